#pragma once

#include <cstdint>
#include <string>

class QListWidgetItem;

// One recording to convert: built on the GUI thread, read by the export worker.
struct ExportJob {
    QListWidgetItem* item;    // the list entry showing the job's state; owned by the list
    std::string outputPrefix; // output folder + "/", local 8-bit encoding
    std::string inputPath;    // the recording, local 8-bit encoding
    int64_t inputBytes = 0;   // its size when the export began, for the overall progress
};
