#pragma once

#include "CVyrkConverter.h"
#include "SOutputStats.h"

#include <string>

// Plain English for the command-line report and the log: what became of a recording and of a
// channel's file, and why.
const char* StateText(CVyrkConverter::State state);
std::string RecordingFailureText(CVyrkConverter::Failure failure, int error);
std::string OutputFailureText(OutputFailure failure, int ffmpegError);
// What was left out of a damaged recording: "64.0 KiB skipped as damaged in 1 place from offset
// 4096, about 0.5 s of the recording".
std::string DamageText(const CVyrkConverter::SDamage& damage);
std::string ByteCountText(int64_t bytes);
