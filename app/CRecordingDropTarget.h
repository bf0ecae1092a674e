#pragma once

#include <QtCore/QObject>
#include <QtCore/QStringList>

class QMimeData;
class QWidget;

// Lets recordings be dropped onto a widget: .Vyrk files, and folders searched for them
// through all their subfolders. Installed as an event filter on the widget it serves.
class CRecordingDropTarget : public QObject {
    Q_OBJECT

public:
    explicit CRecordingDropTarget(QWidget* target);

    // The recordings that a drop of this data adds, in a stable order: files as dropped,
    // each folder's finds sorted by path.
    static QStringList RecordingsIn(const QMimeData& data);
    static bool IsRecordingName(const QString& path);

signals:
    void RecordingsDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
