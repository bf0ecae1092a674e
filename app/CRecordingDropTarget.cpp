#include "CRecordingDropTarget.h"

#include <QtCore/QDirIterator>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QDropEvent>
#include <QtWidgets/QWidget>

namespace {

bool HasLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return true;
    return false;
}

} // namespace

CRecordingDropTarget::CRecordingDropTarget(QWidget* target) : QObject(target) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool CRecordingDropTarget::IsRecordingName(const QString& path) {
    return QFileInfo(path).suffix().compare("Vyrk", Qt::CaseInsensitive) == 0;
}

QStringList CRecordingDropTarget::RecordingsIn(const QMimeData& data) {
    QStringList found;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (info.isDir()) {
            QStringList inFolder;
            QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Readable,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                if (IsRecordingName(path))
                    inFolder << path;
            }
            inFolder.sort();
            found << inFolder;
        } else if (info.isFile() && IsRecordingName(info.fileName())) {
            found << info.absoluteFilePath();
        }
    }
    return found;
}

bool CRecordingDropTarget::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!HasLocalFiles(drag->mimeData()))
            return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!HasLocalFiles(drop->mimeData()))
            return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        emit RecordingsDropped(RecordingsIn(*drop->mimeData()));
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
