#include "EntryText.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QStringList>

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

QString Damaged(int files, const QString& folderName) {
    return Tr("已完成（录像有损坏）：%1 个通道文件 → %2").arg(files).arg(folderName);
}

QString Damage(const CVyrkConverter::SDamage& damage) {
    QStringList parts;
    if (damage.places > 0) {
        QString skipped = Tr("录像有 %1 处损坏，跳过了 %2 的数据（从文件位置 %3 起）")
                              .arg(damage.places)
                              .arg(Size(damage.bytes))
                              .arg(damage.firstOffset);
        const QString span = damage.spanUs >= 1000000
                                 ? Duration(static_cast<double>(damage.spanUs) / 1e6)
                                 : Tr("%1 毫秒").arg((damage.spanUs + 500) / 1000);
        if (damage.spanUs > 0)
            skipped += Tr("，约 %1 的录像").arg(span);
        parts << skipped;
    }
    if (damage.pictures > 0)
        parts << Tr("%1 帧画面因数据损坏无法解码，已略去").arg(damage.pictures);
    return parts.join(Tr("；")) + Tr("。其余部分已转换。");
}

QString Size(int64_t bytes) {
    if (bytes < 1024)
        return Tr("%1 字节").arg(bytes);
    if (bytes < 1024 * 1024)
        return Tr("%1 KB").arg(static_cast<double>(bytes) / 1024, 0, 'f', 1);
    return Tr("%1 MB").arg(static_cast<double>(bytes) / (1024 * 1024), 0, 'f', 1);
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
    case ENOMEM:
        return Tr("内存不足");
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

QString FileKind(int kind) {
    switch (static_cast<CFileLoader::FileKind>(kind)) {
    case CFileLoader::FileKind::Fifo:
        return Tr("命名管道");
    case CFileLoader::FileKind::Directory:
        return Tr("文件夹");
    case CFileLoader::FileKind::Device:
        return Tr("设备");
    case CFileLoader::FileKind::Socket:
        return Tr("套接字");
    case CFileLoader::FileKind::Regular:
    case CFileLoader::FileKind::Other:
        break;
    }
    return Tr("特殊文件");
}

QString RecordingFailure(CVyrkConverter::Failure failure, int error) {
    const QString why =
        failure == CVyrkConverter::Failure::NotAFile ? QString() : SystemError(error);
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
    case CVyrkConverter::Failure::NotAFile:
        return Tr("这不是录像文件，而是%1").arg(FileKind(error));
    case CVyrkConverter::Failure::NoChannels:
        return Tr("录像文件头中没有声明任何通道");
    case CVyrkConverter::Failure::DamagedHeader:
        return Tr("录像文件头已损坏（画面尺寸为 0）");
    case CVyrkConverter::Failure::Aborted:
        return Tr("转换中途失败，已开始的文件已放弃") + because;
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
    case OutputFailure::Encode:
        what = Tr("通道 %1 的音频编码失败").arg(channel);
        break;
    case OutputFailure::NoDecodableVideo:
        return Tr("通道 %1 的视频参数集全部损坏，无法生成文件").arg(channel);
    case OutputFailure::NoParameterSets:
        return Tr("通道 %1 的视频没有完整的参数集，无法生成文件").arg(channel);
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

QString Counts(int done, int failed, int stopped, int notBegun, int damaged) {
    QString counts = Tr("完成 %1 个").arg(done);
    if (damaged > 0)
        counts += Tr("（其中 %1 个录像有损坏）").arg(damaged);
    counts += Tr("，失败 %1 个，已停止 %2 个").arg(failed).arg(stopped);
    return notBegun > 0 ? counts + Tr("，未开始 %1 个").arg(notBegun) : counts;
}

} // namespace EntryText
