#include "EntryText.h"

#include <QtCore/QCoreApplication>

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

namespace EntryText {

QString Duration(double seconds) {
    if (seconds < 0)
        return QString();
    const long total = std::lround(seconds);
    const long hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
    if (hours > 0)
        return Tr("%1小时%2分").arg(hours).arg(minutes, 2, 10, QChar('0'));
    if (minutes > 0)
        return Tr("%1分%2秒").arg(minutes).arg(secs, 2, 10, QChar('0'));
    return Tr("%1秒").arg(secs);
}

QString Running(int percent, double secondsLeft) {
    const QString text = Tr("正在导出 %1%").arg(percent);
    return secondsLeft < 0 ? text : text + Tr("，剩余 %1").arg(Duration(secondsLeft));
}

QString Done(int files, const QString& folderName) {
    return Tr("已完成：%1 个通道文件 → %2").arg(files).arg(folderName);
}

QString Stopped(int files) {
    return Tr("已停止：已写完 %1 个通道文件").arg(files);
}

QString Failed(const QString& reason) {
    return Tr("失败：%1").arg(reason);
}

QString SystemError(int error) {
    switch (error) {
    case 0:
        return QString();
    case ENOENT:
        return Tr("文件或文件夹不存在");
    case EACCES:
    case EPERM:
        return Tr("没有权限");
    case ENOSPC:
        return Tr("磁盘空间不足");
    case EDQUOT:
        return Tr("超出磁盘配额");
    case EROFS:
        return Tr("磁盘只读");
    case EIO:
        return Tr("磁盘读写错误");
    case ENOTDIR:
        return Tr("路径中有一项不是文件夹");
    case EISDIR:
        return Tr("这是一个文件夹");
    case ENAMETOOLONG:
        return Tr("文件名太长");
    default:
        return Tr("系统错误 %1（%2）").arg(error).arg(QString::fromLocal8Bit(strerror(error)));
    }
}

QString RecordingFailure(CVyrkConverter::Failure failure, int error) {
    const QString why = SystemError(error);
    const QString because = why.isEmpty() ? QString() : Tr("（%1）").arg(why);
    switch (failure) {
    case CVyrkConverter::Failure::None:
        return QString();
    case CVyrkConverter::Failure::CannotOpen:
        return Tr("无法打开录像文件") + because;
    case CVyrkConverter::Failure::NotARecording:
        return Tr("不是可识别的录像文件（格式未知、已损坏或为空）");
    case CVyrkConverter::Failure::ReadError:
        return Tr("读取录像文件时出错，录像未读完") + because;
    case CVyrkConverter::Failure::NoVideo:
        return Tr("录像中没有任何通道含有视频");
    case CVyrkConverter::Failure::ChannelFailed:
        break;
    }
    return Tr("有通道文件无法写入");
}

QString ChannelFailure(int channel, OutputFailure failure, int ffmpegError) {
    QString why;
    if (ffmpegError < 0 && ffmpegError > -4096) {
        why = SystemError(-ffmpegError);
    } else if (ffmpegError != 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(ffmpegError, text, sizeof(text));
        why = QString::fromLocal8Bit(text);
    }
    const QString file = QString::number(channel) + ".mp4";
    QString what;
    switch (failure) {
    case OutputFailure::None:
        return QString();
    case OutputFailure::Create:
        what = Tr("无法创建通道 %1 的文件 %2").arg(channel).arg(file);
        break;
    case OutputFailure::Write:
        what = Tr("写入通道 %1 的文件 %2 失败").arg(channel).arg(file);
        break;
    case OutputFailure::Finish:
        what = Tr("无法完成通道 %1 的文件 %2").arg(channel).arg(file);
        break;
    case OutputFailure::Disappeared:
        return Tr("通道 %1 的文件 %2 在写入时被删除或移走").arg(channel).arg(file);
    }
    return why.isEmpty() ? what : what + Tr("（%1）").arg(why);
}

QString Overall(int finished, int total, double secondsLeft) {
    const QString text = Tr("已处理 %1/%2 个录像").arg(finished).arg(total);
    return secondsLeft < 0 ? text : text + Tr("，总共剩余 %1").arg(Duration(secondsLeft));
}

QString Title(const QString& title, int percent, int finished, int total) {
    return Tr("%1% 导出中 (%2/%3) - %4").arg(percent).arg(finished).arg(total).arg(title);
}

QString Counts(int done, int failed, int stopped, int notBegun) {
    const QString counts =
        Tr("完成 %1 个，失败 %2 个，已停止 %3 个").arg(done).arg(failed).arg(stopped);
    return notBegun > 0 ? counts + Tr("，未开始 %1 个").arg(notBegun) : counts;
}

} // namespace EntryText
