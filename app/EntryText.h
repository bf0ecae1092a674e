#pragma once

#include "CVyrkConverter.h"
#include "SOutputStats.h"

#include <QtCore/QString>

// The window's own words for progress, outcomes and reasons, in the program's Chinese; every
// text goes through the translation function in the window's context.
namespace EntryText {

// "2分05秒", "1小时03分", "45秒"; empty while unknown (negative).
QString Duration(double seconds);
QString Running(int percent, double secondsLeft);
QString Done(int files, const QString& folderName);
QString Damaged(int files, const QString& folderName);
// What was left out of a damaged recording, in full.
QString Damage(const CVyrkConverter::SDamage& damage);
// "512 字节", "64.0 KB", "70.0 MB".
QString Size(int64_t bytes);
QString Stopped(int files);
QString Failed(const QString& reason);

// Why a recording produced nothing, or which channel files failed and why.
QString RecordingFailure(CVyrkConverter::Failure failure, int error);
QString ChannelFailure(int channel, OutputFailure failure, int ffmpegError);
QString SystemError(int error);
// What a path names that is no file: "文件夹", "命名管道", ... (a CFileLoader::FileKind).
QString FileKind(int kind);

// The export as a whole: its line beside the progress bar and the window title.
QString Overall(int finished, int total, double secondsLeft);
QString Title(const QString& title, int percent, int finished, int total);
// The closing box's detail; recordings an export did not begin, and the converted ones that were
// damaged (counted among the done), are named when there are any.
QString Counts(int done, int failed, int stopped, int notBegun = 0, int damaged = 0);

} // namespace EntryText
