#pragma once

#include "CVyrkConverter.h"
#include "SOutputStats.h"

#include <string>

// Plain English for the command-line report and the log: what became of a recording and of a
// channel's file, and why.
const char* StateText(CVyrkConverter::State state);
std::string RecordingFailureText(CVyrkConverter::Failure failure, int error);
std::string OutputFailureText(OutputFailure failure, int ffmpegError);
