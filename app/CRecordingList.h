#pragma once

#include "EntryState.h"
#include "ExportJob.h"

#include <QtCore/QList>
#include <QtCore/QStringList>
#include <QtGui/QIcon>

#include <deque>
#include <set>
#include <string>

class QListWidget;
class QListWidgetItem;
struct SJobOutcome;

// The recordings the window lists, an entry each, and what each entry carries: its state, icon,
// status text, reason and tool tip (CEntryDelegate draws them). A recording is listed once,
// judged on its canonical path. GUI thread only; the list widget is the window's form's.
class CRecordingList {
public:
    explicit CRecordingList(QListWidget& list);

    static EntryState StateOf(const QListWidgetItem* item);
    const QIcon& IconFor(EntryState state) const;

    // Adds recordings not yet listed, in the given order.
    void Add(const QStringList& paths);
    void Remove(const QList<QListWidgetItem*>& items);
    void Clear();
    // Waiting again, for the next export to convert.
    void Reset(QListWidgetItem* item);

    bool HasEntriesToConvert() const;
    // One job per entry not yet done, each entry marked waiting for the export.
    std::deque<ExportJob> BuildJobs(const QString& outputDir, bool beside);
    // Waiting entries lose the text an export gave them.
    void ClearWaitingTexts();
    void ShowRunning(QListWidgetItem* item, const QString& outputFolder);
    void ShowProgress(QListWidgetItem* item, int percent, const QString& status);
    void ShowOutcome(QListWidgetItem* item, const SJobOutcome& outcome);

private:
    static void SetEntryData(QListWidgetItem* item, EntryState state, const QString& status,
                             const QString& reason);

    QListWidget& m_list;
    QIcon m_iconDone;
    QIcon m_iconError;
    QIcon m_iconProcess;
    QIcon m_iconProcess1;
    QIcon m_iconStopped;
    QIcon m_iconDamaged;
    std::set<std::wstring> m_listedPaths;
};
