#pragma once

#include <QtCore/Qt>

// What an entry of the recording list shows. The value is kept under Qt::UserRole: an entry
// whose value is Done or Damaged (converted, with damaged parts of the recording left out) is
// passed over by the next export.
enum class EntryState { Waiting = 0, Done = 1, Failed = 2, Stopped = 3, Running = 4, Damaged = 5 };

// True for an entry the export has converted: the next export passes it over.
inline bool IsConverted(EntryState state) {
    return state == EntryState::Done || state == EntryState::Damaged;
}

// The data an entry carries besides its path (Qt::DisplayRole) and icon.
namespace EntryRole {
const int kState = Qt::UserRole;            // int, an EntryState
const int kStatusText = Qt::UserRole + 1;   // QString drawn beside the path
const int kReason = Qt::UserRole + 2;       // QString, why it failed or stopped ("" if nothing)
const int kOutputFolder = Qt::UserRole + 3; // QString, where its files went ("" before export)
const int kProgress = Qt::UserRole + 4;     // int percent of the running or last conversion
const int kKey = Qt::UserRole + 5;          // QString, the canonical path judging duplicates
} // namespace EntryRole
