#pragma once

#include "EntryState.h"

#include <QtCore/QString>

// What became of one export job, as the worker reports it to the window.
struct SJobOutcome {
    EntryState state = EntryState::Failed;
    int files = 0;    // channel files written
    QString status;   // the short text beside the path
    QString reason;   // why it failed or stopped, in full ("" if converted)
    QString recorded; // when the recording starts, for the tool tip ("" when not known)
};
