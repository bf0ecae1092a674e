#include "SSampleOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

const char* const kSampleUsage =
    "usage: vyrk-sample -o FILE.Vyrk [options]\n"
    "  --magic v81|v80|other   format tag (default v81)\n"
    "  --channels N            channels written (default 7)\n"
    "  --header-channels N     channelCount stored in the header (default: channels)\n"
    "  --width W --height H    picture size (default 320x240)\n"
    "  --fps F                 frame rate (default 25)\n"
    "  --seconds S             duration (default 2)\n"
    "  --gop N                 key-frame interval in pictures (default: fps)\n"
    "  --bitrate KBPS          target video bit rate (default: constant quality)\n"
    "  --noise A               per-pixel noise amplitude so a bit rate is really reached\n"
    "  --preset P              x265 preset (default ultrafast)\n"
    "  --threads N             encoder threads (default 1)\n"
    "  --unique N              encode N pictures per channel and repeat them\n"
    "  --hevc CH=FILE          take channel CH's video from an Annex B file\n"
    "  --bframes N             B-pictures between reference pictures (default 0)\n"
    "  --stamps decode|capture stamp the k-th access unit in decode order with the time of\n"
    "                          picture k (default), or each with its own picture's time\n"
    "  --params-record         write the parameter sets and SEI in front of the first slice\n"
    "                          as a record of their own, stamped like the rest\n"
    "  --mixed-start-codes     alternate 4- and 3-byte start codes in each video record\n"
    "  --flash-at S[,S2...]    dark pictures but a white one at S seconds, and silence but\n"
    "                          a 100 ms 1 kHz burst at S (multiples of the frame duration;\n"
    "                          --unique is then ignored)\n"
    "  --channel-start CH:VIDEO_S[:AUDIO_S]\n"
    "                          channel CH starts late: its first picture is the one captured\n"
    "                          at VIDEO_S seconds (a picture's time) and its sound starts at\n"
    "                          AUDIO_S (default VIDEO_S); pictures, flashes and bursts keep\n"
    "                          their times (may be given once per channel)\n"
    "  --cut-before-irap CH:N  channel CH's video starts mid-GOP: its parameter sets, then the\n"
    "                          last N access units in front of its second IDR, CRA or BLA\n"
    "                          picture, which cannot be decoded, then the rest; its sound\n"
    "                          starts with the first picture kept (--unique is then ignored\n"
    "                          for CH; exit status 2 when there is no second such picture)\n"
    "  --audio-samples N       samples per audio record (default 1024)\n"
    "  --no-audio              write no audio records\n"
    "  --audio-offset MS       audio starts MS ms after the first picture (negative: before)\n"
    "  --audio-gap FROM-TO     leave out the audio records stamped from FROM to before TO\n"
    "                          seconds (may be given more than once)\n"
    "  --audio-jitter US       move each audio stamp by a repeatable random -US..+US us\n"
    "  --inject-other-types    add records of types 1, 3 and 255\n"
    "  --inject-subtype1       add video records with subType 1\n"
    "  --inject-foreign        add records for channels without an output\n"
    "  --inject-empty          add records with an empty payload\n"
    "  --truncate N            cut N bytes off the end of the file\n"
    "  --clock-base US         add US to every stamp (e.g. microseconds since 1970)\n"
    "  --clock-step AT_S:DELTA_S\n"
    "                          the rig's clock was set by DELTA_S seconds at AT_S seconds:\n"
    "                          every record captured from then on is stamped DELTA_S later\n"
    "                          (earlier when negative; a step back needs a --clock-base of at\n"
    "                          least its size, or stamps stop at 0; may be given more than once)\n"
    "  --dump-streams          also write NAME.chN.hevc and NAME.chN.pcm\n"
    "  --list-records          print channel, type, stamp (us) and size of every record\n"
    "  --quiet                 print no summary\n";

int64_t SSampleOptions::TotalPictures() const {
    return std::lround(seconds * video.fps);
}

int64_t SSampleOptions::FirstPicture(int channel) const {
    const auto start = startPictures.find(channel);
    return start != startPictures.end() ? start->second : 0;
}

namespace {

using NextValue = std::function<const char*(const char*)>;

// Numbers with a separator between them: "1.0,2.5" or "1:0.4:-2".
bool ParseNumbers(const std::string& text, char separator, std::vector<double>& out) {
    size_t begin = 0;
    while (begin <= text.size()) {
        const size_t next = std::min(text.find(separator, begin), text.size());
        const std::string item = text.substr(begin, next - begin);
        char* end = nullptr;
        const double value = strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0')
            return false;
        out.push_back(value);
        begin = next + 1;
    }
    return true;
}

// Seconds, comma separated: "1.0,2.5".
bool ParseSecondsList(const std::string& text, std::vector<double>& out) {
    std::vector<double> values;
    if (!ParseNumbers(text, ',', values))
        return false;
    for (double value : values)
        if (value < 0)
            return false;
    out.insert(out.end(), values.begin(), values.end());
    return true;
}

bool IsChannelNumber(double value) {
    return value >= 0 && value < 256 && value == std::floor(value);
}

// "CH:VIDEO_S" or "CH:VIDEO_S:AUDIO_S".
bool ParseChannelStart(const std::string& text, SSampleOptions& o) {
    std::vector<double> v;
    if (!ParseNumbers(text, ':', v) || v.size() < 2 || v.size() > 3 || !IsChannelNumber(v[0]) ||
        v[1] < 0 || (v.size() == 3 && v[2] < 0))
        return false;
    const int channel = static_cast<int>(v[0]);
    o.videoStartSeconds[channel] = v[1];
    o.audioStartSeconds.erase(channel);
    if (v.size() == 3)
        o.audioStartSeconds[channel] = v[2];
    return true;
}

// "CH:N".
bool ParseCut(const std::string& text, std::map<int, int>& out) {
    std::vector<double> v;
    if (!ParseNumbers(text, ':', v) || v.size() != 2 || !IsChannelNumber(v[0]) || v[1] < 0 ||
        v[1] != std::floor(v[1]) || v[1] > 1e9)
        return false;
    out[static_cast<int>(v[0])] = static_cast<int>(v[1]);
    return true;
}

// "AT_S:DELTA_S", kept in microseconds.
bool ParseClockStep(const std::string& text, std::vector<std::pair<int64_t, int64_t>>& out) {
    std::vector<double> v;
    if (!ParseNumbers(text, ':', v) || v.size() != 2 || v[0] < 0)
        return false;
    out.emplace_back(std::llround(v[0] * 1e6), std::llround(v[1] * 1e6));
    return true;
}

// "FROM-TO" in seconds.
bool ParseGap(const std::string& text, std::vector<std::pair<int64_t, int64_t>>& out) {
    const size_t dash = text.find('-', 1);
    if (dash == std::string::npos)
        return false;
    const double from = atof(text.substr(0, dash).c_str());
    const double to = atof(text.substr(dash + 1).c_str());
    out.emplace_back(std::llround(from * 1e6), std::llround(to * 1e6));
    return true;
}

// Options of the picture and its encoding. Returns false for an option it does not know.
bool ParseVideoOption(const std::string& a, const NextValue& next, SSampleOptions& o) {
    if (a == "--width")
        o.video.width = atoi(next("--width"));
    else if (a == "--height")
        o.video.height = atoi(next("--height"));
    else if (a == "--fps")
        o.video.fps = atoi(next("--fps"));
    else if (a == "--gop")
        o.video.keyInterval = atoi(next("--gop"));
    else if (a == "--bitrate")
        o.video.bitRate = static_cast<int64_t>(atof(next("--bitrate")) * 1000);
    else if (a == "--noise")
        o.video.noise = atoi(next("--noise"));
    else if (a == "--preset")
        o.video.preset = next("--preset");
    else if (a == "--threads")
        o.video.threads = atoi(next("--threads"));
    else if (a == "--bframes")
        o.video.bFrames = atoi(next("--bframes"));
    else
        return false;
    return true;
}

// Options of how the video is cut into records and stamped.
bool ParseVideoRecordOption(const std::string& a, const NextValue& next, SSampleOptions& o) {
    if (a == "--unique")
        o.uniquePictures = atoi(next("--unique"));
    else if (a == "--hevc") {
        const std::string v = next("--hevc");
        const size_t eq = v.find('=');
        if (eq == std::string::npos)
            return false;
        o.hevcInputs[atoi(v.substr(0, eq).c_str())] = v.substr(eq + 1);
    } else if (a == "--stamps") {
        const std::string v = next("--stamps");
        if (v != "decode" && v != "capture")
            return false;
        o.captureStamps = v == "capture";
    } else if (a == "--params-record")
        o.paramsRecord = true;
    else if (a == "--mixed-start-codes")
        o.mixedStartCodes = true;
    else if (a == "--flash-at")
        return ParseSecondsList(next("--flash-at"), o.flashSeconds);
    else if (a == "--channel-start")
        return ParseChannelStart(next("--channel-start"), o);
    else if (a == "--cut-before-irap")
        return ParseCut(next("--cut-before-irap"), o.cutsBeforeIrap);
    else
        return false;
    return true;
}

bool ParseAudioOption(const std::string& a, const NextValue& next, SSampleOptions& o) {
    if (a == "--audio-samples")
        o.audioSamples = atoi(next("--audio-samples"));
    else if (a == "--no-audio")
        o.audio = false;
    else if (a == "--audio-offset")
        o.audioOffsetUs = std::llround(atof(next("--audio-offset")) * 1000);
    else if (a == "--audio-gap")
        return ParseGap(next("--audio-gap"), o.audioGapsUs);
    else if (a == "--audio-jitter")
        o.audioJitterUs = atoll(next("--audio-jitter"));
    else
        return false;
    return true;
}

bool ParseDamageOption(const std::string& a, const NextValue& next, SSampleOptions& o) {
    if (a == "--inject-other-types")
        o.otherTypes = true;
    else if (a == "--inject-subtype1")
        o.subType1 = true;
    else if (a == "--inject-foreign")
        o.foreignChannels = true;
    else if (a == "--inject-empty")
        o.emptyPayloads = true;
    else if (a == "--truncate")
        o.truncateBytes = atol(next("--truncate"));
    else
        return false;
    return true;
}

bool ParseFileOption(const std::string& a, const NextValue& next, SSampleOptions& o) {
    if (a == "-o")
        o.output = next("-o");
    else if (a == "--magic")
        o.magic = next("--magic");
    else if (a == "--channels")
        o.channels = atoi(next("--channels"));
    else if (a == "--header-channels")
        o.headerChannels = atoi(next("--header-channels"));
    else if (a == "--seconds")
        o.seconds = atof(next("--seconds"));
    else if (a == "--clock-base")
        o.clockBaseUs = strtoull(next("--clock-base"), nullptr, 10);
    else if (a == "--clock-step")
        return ParseClockStep(next("--clock-step"), o.clockStepsUs);
    else if (a == "--dump-streams")
        o.dumpStreams = true;
    else if (a == "--list-records")
        o.listRecords = true;
    else if (a == "--quiet")
        o.quiet = true;
    else
        return false;
    return true;
}

// The index of the picture captured at the given time; -1 when no picture of the video is.
int64_t PictureAt(double seconds, const SSampleOptions& o) {
    const double position = seconds * o.video.fps;
    const int64_t picture = std::llround(position);
    if (std::fabs(position - static_cast<double>(picture)) > 1e-6 || picture >= o.TotalPictures())
        return -1;
    return picture;
}

// Turns the flash times into picture indices; each must fall on a picture of the video.
bool ResolveFlashes(SSampleOptions& o) {
    for (double seconds : o.flashSeconds) {
        const int64_t picture = PictureAt(seconds, o);
        if (picture < 0) {
            fprintf(stderr, "vyrk-sample: --flash-at %g is no picture's time\n", seconds);
            return false;
        }
        o.video.flashPictures.push_back(static_cast<int>(picture));
        const double audioStart = static_cast<double>(o.audioOffsetUs) / 1e6;
        o.burstFirstSamples.push_back(std::llround((seconds - audioStart) * 44100.0));
    }
    return true;
}

// Turns the channels' start times into picture indices; each must fall on a picture of the
// video of a written channel.
bool ResolveChannelStarts(SSampleOptions& o) {
    for (const auto& start : o.videoStartSeconds) {
        const int64_t picture = PictureAt(start.second, o);
        if (start.first >= o.channels || picture < 0) {
            fprintf(stderr,
                    "vyrk-sample: --channel-start %d:%g is no picture's time of a written "
                    "channel\n",
                    start.first, start.second);
            return false;
        }
        o.startPictures[start.first] = picture;
    }
    return true;
}

bool CheckCuts(const SSampleOptions& o) {
    for (const auto& cut : o.cutsBeforeIrap)
        if (cut.first >= o.channels) {
            fprintf(stderr, "vyrk-sample: --cut-before-irap %d:%d names no written channel\n",
                    cut.first, cut.second);
            return false;
        }
    return true;
}

bool CheckAudioStart(const SSampleOptions& o) {
    if (!o.audio || o.audioOffsetUs >= 0 ||
        static_cast<uint64_t>(-o.audioOffsetUs) <= o.clockBaseUs)
        return true;
    fprintf(stderr, "vyrk-sample: audio before the first picture needs a --clock-base of at "
                    "least the offset\n");
    return false;
}

} // namespace

bool ParseSampleOptions(int argc, char** argv, SSampleOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const NextValue next = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "vyrk-sample: %s needs a value\n", name);
                exit(2);
            }
            return argv[++i];
        };
        if (!ParseFileOption(a, next, o) && !ParseVideoOption(a, next, o) &&
            !ParseVideoRecordOption(a, next, o) && !ParseAudioOption(a, next, o) &&
            !ParseDamageOption(a, next, o))
            return false;
    }
    if (o.video.keyInterval <= 0)
        o.video.keyInterval = o.video.fps;
    return !o.output.empty() && o.channels >= 0 && o.channels <= 256 && o.video.fps > 0 &&
           o.audioSamples > 0 && o.seconds >= 0 && o.video.bFrames >= 0 && o.audioJitterUs >= 0 &&
           ResolveFlashes(o) && ResolveChannelStarts(o) && CheckCuts(o) && CheckAudioStart(o);
}
