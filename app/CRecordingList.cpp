#include "CRecordingList.h"

#include "COutputFolders.h"
#include "EntryText.h"
#include "SJobOutcome.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtWidgets/QListWidget>

namespace {

// The key that judges two paths to be one recording: links and "." resolved.
QString RecordingKey(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

CRecordingList::CRecordingList(QListWidget& list) : m_list(list) {
    m_iconDone.addFile("./skin/done.png");
    m_iconError.addFile("./skin/error.png");
    m_iconProcess.addFile("./skin/Process.png");
    m_iconProcess1.addFile("./skin/Process1.png");
    m_iconStopped.addFile("./skin/stopped.png");
    m_iconDamaged.addFile("./skin/damaged.png");
}

EntryState CRecordingList::StateOf(const QListWidgetItem* item) {
    return static_cast<EntryState>(item->data(EntryRole::kState).toInt());
}

const QIcon& CRecordingList::IconFor(EntryState state) const {
    switch (state) {
    case EntryState::Running:
        return m_iconProcess1;
    case EntryState::Done:
        return m_iconDone;
    case EntryState::Failed:
        return m_iconError;
    case EntryState::Stopped:
        return m_iconStopped;
    case EntryState::Damaged:
        return m_iconDamaged;
    case EntryState::Waiting:
        break;
    }
    return m_iconProcess;
}

void CRecordingList::Add(const QStringList& paths) {
    for (const QString& path : paths) {
        const QString key = RecordingKey(path);
        if (m_listedPaths.count(key.toStdWString()))
            continue;
        auto* item = new QListWidgetItem();
        item->setIcon(m_iconProcess);
        item->setData(Qt::DisplayRole, path);
        item->setData(EntryRole::kState, static_cast<int>(EntryState::Waiting));
        item->setData(EntryRole::kKey, key);
        item->setToolTip(path);
        m_list.addItem(item);
        m_listedPaths.insert(key.toStdWString());
    }
}

void CRecordingList::Remove(const QList<QListWidgetItem*>& items) {
    for (QListWidgetItem* item : items) {
        m_listedPaths.erase(item->data(EntryRole::kKey).toString().toStdWString());
        delete m_list.takeItem(m_list.row(item));
    }
}

void CRecordingList::Clear() {
    m_listedPaths.clear();
    m_list.clear();
}

void CRecordingList::Reset(QListWidgetItem* item) {
    item->setIcon(m_iconProcess);
    SetEntryData(item, EntryState::Waiting, QString(), QString());
    item->setData(EntryRole::kProgress, QVariant());
}

bool CRecordingList::HasEntriesToConvert() const {
    for (int row = 0; row < m_list.count(); ++row)
        if (!IsConverted(StateOf(m_list.item(row))))
            return true;
    return false;
}

// Each job gets a folder no other recording of the export uses, nor any entry converted earlier.
std::deque<ExportJob> CRecordingList::BuildJobs(const QString& outputDir, bool beside) {
    COutputFolders folders;
    for (int row = 0; row < m_list.count(); ++row) {
        const QListWidgetItem* item = m_list.item(row);
        const QString folder = item->data(EntryRole::kOutputFolder).toString();
        if (IsConverted(StateOf(item)) && !folder.isEmpty())
            folders.Reserve(folder.toLocal8Bit().toStdString());
    }
    std::deque<ExportJob> jobs;
    for (int row = 0; row < m_list.count(); ++row) {
        QListWidgetItem* item = m_list.item(row);
        if (IsConverted(StateOf(item)))
            continue;
        const QString path = item->text();
        const QFileInfo info(path);
        const QString dir = beside ? info.absolutePath() : outputDir;
        const std::string input = path.toLocal8Bit().toStdString();
        jobs.push_back(
            {item, folders.Claim(dir.toLocal8Bit().toStdString(), input), input, info.size()});
        item->setIcon(m_iconProcess);
        SetEntryData(item, EntryState::Waiting,
                     QCoreApplication::translate("MainWindow", "等待导出"), QString());
    }
    return jobs;
}

void CRecordingList::ClearWaitingTexts() {
    for (int row = 0; row < m_list.count(); ++row) {
        QListWidgetItem* item = m_list.item(row);
        if (StateOf(item) == EntryState::Waiting)
            SetEntryData(item, EntryState::Waiting, QString(), QString());
    }
}

void CRecordingList::ShowRunning(QListWidgetItem* item, const QString& outputFolder) {
    item->setIcon(m_iconProcess1);
    item->setData(EntryRole::kOutputFolder, outputFolder);
    item->setData(EntryRole::kProgress, 0);
    SetEntryData(item, EntryState::Running, EntryText::Running(0, -1), QString());
}

void CRecordingList::ShowProgress(QListWidgetItem* item, int percent, const QString& status) {
    item->setData(EntryRole::kProgress, percent);
    item->setData(EntryRole::kStatusText, status);
}

void CRecordingList::ShowOutcome(QListWidgetItem* item, const SJobOutcome& outcome) {
    item->setIcon(IconFor(outcome.state));
    if (IsConverted(outcome.state))
        item->setData(EntryRole::kProgress, 100);
    SetEntryData(item, outcome.state, outcome.status, outcome.reason);
    if (!outcome.recorded.isEmpty())
        item->setToolTip(item->toolTip() + "\n" + outcome.recorded);
}

void CRecordingList::SetEntryData(QListWidgetItem* item, EntryState state, const QString& status,
                                  const QString& reason) {
    item->setData(EntryRole::kState, static_cast<int>(state));
    item->setData(EntryRole::kStatusText, status);
    item->setData(EntryRole::kReason, reason);
    QString tip = item->text();
    if (!status.isEmpty())
        tip += "\n" + status;
    if (!reason.isEmpty() && reason != status)
        tip += "\n" + reason;
    const QString folder = item->data(EntryRole::kOutputFolder).toString();
    if (!folder.isEmpty() && state != EntryState::Waiting)
        tip += "\n" + QCoreApplication::translate("MainWindow", "输出目录：%1")
                          .arg(QDir::toNativeSeparators(QDir::cleanPath(folder)));
    item->setToolTip(tip);
}
