#include "ConversionText.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstdio>
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
    case CVyrkConverter::Failure::NotAFile:
        return std::string("not a recording file but ") +
               CFileLoader::FileKindText(static_cast<CFileLoader::FileKind>(error));
    case CVyrkConverter::Failure::NoChannels:
        return "the recording declares no channels";
    case CVyrkConverter::Failure::DamagedHeader:
        return "the recording's header is damaged (a picture size of 0 or less)";
    case CVyrkConverter::Failure::Aborted:
        return error == ENOMEM ? "out of memory" : WithReason("the conversion failed", reason);
    case CVyrkConverter::Failure::ChannelFailed:
        break;
    }
    return "a channel's file could not be written";
}

std::string ByteCountText(int64_t bytes) {
    char text[32];
    if (bytes < 1024)
        snprintf(text, sizeof(text), "%lld bytes", static_cast<long long>(bytes));
    else if (bytes < 1024 * 1024)
        snprintf(text, sizeof(text), "%.1f KiB", static_cast<double>(bytes) / 1024);
    else
        snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
    return text;
}

std::string DamageText(const CVyrkConverter::SDamage& damage) {
    std::string text;
    char part[160];
    if (damage.places > 0) {
        snprintf(part, sizeof(part), "%s skipped as damaged in %d place%s from offset %lld",
                 ByteCountText(damage.bytes).c_str(), damage.places, damage.places == 1 ? "" : "s",
                 static_cast<long long>(damage.firstOffset));
        text = part;
        if (damage.spanUs >= 1000000)
            snprintf(part, sizeof(part), ", about %.1f s of the recording",
                     static_cast<double>(damage.spanUs) / 1e6);
        else
            snprintf(part, sizeof(part), ", about %lld ms of the recording",
                     static_cast<long long>((damage.spanUs + 500) / 1000));
        if (damage.spanUs > 0)
            text += part;
    }
    if (damage.pictures > 0) {
        snprintf(part, sizeof(part), "%s%lld picture%s that damage made undecodable left out",
                 text.empty() ? "" : "; ", static_cast<long long>(damage.pictures),
                 damage.pictures == 1 ? "" : "s");
        text += part;
    }
    return text;
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
    case OutputFailure::Encode:
        return WithReason("encoding the audio failed", reason);
    case OutputFailure::NoDecodableVideo:
        return "no file: every parameter set of its video is damaged";
    case OutputFailure::NoParameterSets:
        return "no file: its video holds no complete parameter set";
    case OutputFailure::Disappeared:
        break;
    }
    return "the file was removed while it was written";
}
