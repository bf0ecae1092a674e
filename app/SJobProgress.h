#pragma once

#include <QtCore/QString>

// How far the running job and the export as a whole have come, as the worker reports it to the
// window about four times a second.
struct SJobProgress {
    int percent = 0;     // the running job's, at most 99
    QString status;      // the running entry's text: its percentage and time left
    int overall = 0;     // the export's percentage, at most 99
    QString overallText; // the export's line beside the progress bar
    int finished = 0;    // jobs the export has finished
};
