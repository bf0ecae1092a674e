#include "ConversionText.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cstring>

namespace {

std::string WithReason(const char* what, const std::string& reason) {
    return reason.empty() ? what : std::string(what) + ": " + reason;
}

std::string FfmpegErrorText(int error) {
    if (error == 0 || error == AVERROR_UNKNOWN)
        return "";
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return text;
}

} // namespace

const char* StateText(CVyrkConverter::State state) {
    switch (state) {
    case CVyrkConverter::State::Converting:
        return "converting";
    case CVyrkConverter::State::Converted:
        return "converted";
    case CVyrkConverter::State::Stopped:
        return "stopped";
    case CVyrkConverter::State::Damaged:
        return "damaged";
    case CVyrkConverter::State::Failed:
        break;
    }
    return "failed";
}

std::string RecordingFailureText(CVyrkConverter::Failure failure, int error) {
    const std::string reason = error != 0 ? strerror(error) : "";
    switch (failure) {
    case CVyrkConverter::Failure::None:
        return "";
    case CVyrkConverter::Failure::CannotOpen:
        return WithReason("cannot open the recording", reason);
    case CVyrkConverter::Failure::NotARecording:
        return "not a recording (unknown format)";
    case CVyrkConverter::Failure::ReadError:
        return WithReason("reading the recording failed part of the way", reason);
    case CVyrkConverter::Failure::NoVideo:
        return "no channel holds video";
    case CVyrkConverter::Failure::ChannelFailed:
        break;
    }
    return "a channel's file could not be written";
}

std::string OutputFailureText(OutputFailure failure, int ffmpegError) {
    const std::string reason = FfmpegErrorText(ffmpegError);
    switch (failure) {
    case OutputFailure::None:
        return "";
    case OutputFailure::Create:
        return WithReason("cannot create the file", reason);
    case OutputFailure::Write:
        return WithReason("writing the file failed", reason);
    case OutputFailure::Finish:
        return WithReason("cannot finish the file", reason);
    case OutputFailure::Disappeared:
        break;
    }
    return "the file was removed while it was written";
}
