#include "MediaReaders.h"

#include "Subprocess.h"
#include "TempDir.h"
#include "Wait.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// A reader that hangs (gst-launch can, at its end) must not hang the test with it.
SubprocessResult RunBounded(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/usr/bin/timeout", std::to_string(kHangDeadline.count())});
    return RunProgram(argv);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Split(const std::string& s, char separator) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
        const size_t at = s.find(separator, from);
        fields.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return fields;
        from = at + 1;
    }
}

// The whole field as a number; nothing for "N/A", "" or trailing text.
std::optional<double> Number(const std::string& s) {
    if (s.empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

long long Count(const std::string& s) {
    const std::optional<double> n = Number(s);
    return n ? static_cast<long long>(*n) : -1;
}

// The value after "key=" in a line of key=value fields separated by '|'.
std::string Field(const std::string& line, const std::string& key) {
    for (const std::string& field : Split(line, '|'))
        if (field.compare(0, key.size() + 1, key + "=") == 0)
            return field.substr(key.size() + 1);
    return "";
}

// A file name inside a filter graph passes two parsers, the option's and the graph's, and each
// takes a backslash as an escape.
std::string EscapeForFilterGraph(const std::string& path) {
    auto escape = [](const std::string& s, const std::string& toEscape) {
        std::string out;
        for (char c : s) {
            if (toEscape.find(c) != std::string::npos)
                out += '\\';
            out += c;
        }
        return out;
    };
    return escape(escape(path, "\\':"), "\\'[],;");
}

// Which kinds of stream the file has, by ffprobe; nothing when it cannot read the file.
struct StreamKinds {
    bool video = false;
    bool audio = false;
};

std::optional<StreamKinds> FindStreamKinds(const std::string& path) {
    const SubprocessResult r = RunBounded({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                           "stream=codec_type", "-of", "csv=p=0", path});
    if (r.exitCode != 0)
        return std::nullopt;
    StreamKinds kinds;
    for (const std::string& line : Lines(r.output)) {
        kinds.video = kinds.video || line == "video";
        kinds.audio = kinds.audio || line == "audio";
    }
    return kinds;
}

} // namespace

PresentedTimes PresentedByFfprobe(const std::string& path) {
    PresentedTimes times;
    // The movie source fails when asked for a stream the file lacks: ask only for those it has.
    const std::optional<StreamKinds> kinds = FindStreamKinds(path);
    if (!kinds || (!kinds->video && !kinds->audio))
        return times;
    std::string source = "movie=" + EscapeForFilterGraph(path) + ":s=";
    if (kinds->video && kinds->audio)
        source += "dv+da[out0][out1]";
    else
        source += kinds->video ? "dv[out0]" : "da[out0]";
    const SubprocessResult r =
        RunBounded({"/usr/bin/ffprobe", "-v", "error", "-f", "lavfi", "-i", source, "-show_entries",
                    "frame=media_type,pts_time,best_effort_timestamp_time", "-of", "compact"});
    if (r.exitCode != 0)
        return times;
    for (const std::string& line : Lines(r.output)) {
        if (line.compare(0, 6, "frame|") != 0)
            continue;
        std::optional<double> t = Number(Field(line, "pts_time"));
        if (!t)
            t = Number(Field(line, "best_effort_timestamp_time"));
        if (!t)
            continue;
        const std::string type = Field(line, "media_type");
        if (type == "video")
            times.videoTimes.push_back(*t);
        else if (type == "audio" && !times.audioStart)
            times.audioStart = t;
    }
    times.read = true;
    return times;
}

namespace {

// The stream time of every buffer that a sink named sinkName rendered, from gst-launch -m.
std::vector<double> StreamTimes(const std::string& output, const std::string& sinkName) {
    std::vector<double> times;
    const std::string from = "from element \"" + sinkName + "\"";
    const std::string key = "stream-time=(guint64)";
    for (const std::string& line : Lines(output)) {
        if (line.find(from) == std::string::npos ||
            line.find("GstMultiFileSink,") == std::string::npos)
            continue;
        const size_t at = line.find(key);
        if (at == std::string::npos)
            continue;
        const std::string digits =
            line.substr(at + key.size(), line.find(',', at) - at - key.size());
        const std::optional<double> ns = Number(digits);
        // GST_CLOCK_TIME_NONE: a buffer the segment does not place.
        if (!ns || digits == "18446744073709551615")
            continue;
        times.push_back(*ns / 1e9);
    }
    return times;
}

} // namespace

PresentedTimes PresentedByGstreamer(const std::string& path) {
    PresentedTimes times;
    // Every stream the demuxer exposes gets a branch: a branch for a stream the file lacks waits
    // forever, and one left unlinked makes gst-launch hang now and then at the end.
    const std::optional<StreamKinds> kinds = FindStreamKinds(path);
    if (!kinds || (!kinds->video && !kinds->audio))
        return times;
    std::string location;
    for (char c : path) {
        if (c == '"' || c == '\\')
            location += '\\';
        location += c;
    }
    std::vector<std::string> argv = {"/usr/bin/gst-launch-1.0", "-m", "filesrc"};
    argv.push_back("location=\"" + location + "\"");
    argv.insert(argv.end(), {"!", "qtdemux", "name=demux"});
    // Each sink drops what lies outside the segment and posts one message per buffer it keeps;
    // messages queue on the bus, where printed property notifications would coalesce. The sink
    // replaces its file by renaming a new one over it (over /dev/null itself, for root), so it
    // writes into a folder of its own and keeps only its latest file.
    const TempDir scratch;
    auto addBranch = [&](const std::string& kind) {
        argv.insert(argv.end(), {"demux." + kind + "_0", "!", "queue", "!", "decodebin", "!",
                                 kind + "/x-raw", "!", "multifilesink", "name=" + kind,
                                 "location=" + scratch.File(kind + "-%05d"), "max-files=1",
                                 "post-messages=true", "sync=false"});
    };
    if (kinds->video)
        addBranch("video");
    if (kinds->audio)
        addBranch("audio");
    const SubprocessResult r = RunBounded(argv);
    if (r.exitCode != 0)
        return times;
    times.videoTimes = StreamTimes(r.output, "video");
    const std::vector<double> audio = StreamTimes(r.output, "audio");
    if (!audio.empty())
        times.audioStart = audio.front();
    times.read = true;
    return times;
}

namespace {

// mkvextract's timestamps_v2 list, in milliseconds: a header line, one line per frame in
// presentation order, and a last line with the end of the last frame.
std::vector<double> FrameTimestamps(const std::string& path) {
    std::vector<double> times;
    for (const std::string& line : Lines(ReadWholeFile(path))) {
        const std::optional<double> ms = Number(line);
        if (ms)
            times.push_back(*ms / 1000);
    }
    if (!times.empty())
        times.pop_back();
    return times;
}

} // namespace

PresentedTimes PresentedByMkvmerge(const std::string& path, const std::string& folder) {
    PresentedTimes times;
    std::string stem = path.substr(path.find_last_of('/') + 1);
    stem = stem.substr(0, stem.find_last_of('.'));
    const std::string mkv = folder + "/" + stem + ".remuxed.mkv";
    const std::string videoList = folder + "/" + stem + ".video-timestamps.txt";
    const std::string audioList = folder + "/" + stem + ".audio-timestamps.txt";
    auto cleanUp = [&] {
        std::remove(mkv.c_str());
        std::remove(videoList.c_str());
        std::remove(audioList.c_str());
    };
    // Exit status 1 means warnings only; the file is written all the same.
    const SubprocessResult merged = RunBounded({"/usr/bin/mkvmerge", "-q", "-o", mkv, path});
    if (merged.exitCode != 0 && merged.exitCode != 1) {
        cleanUp();
        return times;
    }
    // "Track ID 0: video (HEVC/H.265/MPEG-H)": mkvmerge numbers the tracks it kept, leaving out
    // those it does not support (such as tmcd).
    const SubprocessResult identified = RunBounded({"/usr/bin/mkvmerge", "-i", mkv});
    std::string videoId;
    std::string audioId;
    for (const std::string& line : Lines(identified.output)) {
        if (line.compare(0, 9, "Track ID ") != 0)
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string id = line.substr(9, colon - 9);
        const std::string type = line.substr(colon + 1, 7);
        if (videoId.empty() && type == " video ")
            videoId = id;
        else if (audioId.empty() && type.compare(0, 7, " audio ") == 0)
            audioId = id;
    }
    if (identified.exitCode != 0 || (videoId.empty() && audioId.empty())) {
        cleanUp();
        return times;
    }
    std::vector<std::string> extract = {"/usr/bin/mkvextract", "-q", mkv, "timestamps_v2"};
    if (!videoId.empty())
        extract.push_back(videoId + ":" + videoList);
    if (!audioId.empty())
        extract.push_back(audioId + ":" + audioList);
    const SubprocessResult extracted = RunBounded(extract);
    if (extracted.exitCode == 0 || extracted.exitCode == 1) {
        if (!videoId.empty())
            times.videoTimes = FrameTimestamps(videoList);
        if (!audioId.empty()) {
            const std::vector<double> audio = FrameTimestamps(audioList);
            if (!audio.empty())
                times.audioStart = audio.front();
        }
        times.read = true;
    }
    cleanUp();
    return times;
}

std::vector<MediaInfoTrack> MediaInfoTracks(const std::string& path) {
    std::vector<MediaInfoTrack> tracks;
    // --Inform prints one line per track of the kind; its fields hold no '|' of their own.
    // Delay, Source_Delay and Duration come in milliseconds there.
    for (const char* kind : {"Video", "Audio", "Other"}) {
        const SubprocessResult r = RunBounded(
            {"/usr/bin/mediainfo",
             "--Inform=" + std::string(kind) +
                 ";track|%Delay%|%Delay_Source%|%Source_Delay%|%FrameCount%|%Source_FrameCount%|"
                 "%Duration%|%TimeCode_FirstFrame%\\n",
             path});
        if (r.exitCode != 0)
            return {};
        for (const std::string& line : Lines(r.output)) {
            const std::vector<std::string> f = Split(line, '|');
            if (f.size() != 8 || f[0] != "track")
                continue;
            MediaInfoTrack t;
            t.kind = kind;
            if (const std::optional<double> ms = Number(f[1]))
                t.delay = *ms / 1000;
            t.delaySource = f[2];
            if (const std::optional<double> ms = Number(f[3]))
                t.sourceDelay = *ms / 1000;
            t.frameCount = Count(f[4]);
            t.sourceFrameCount = Count(f[5]);
            if (const std::optional<double> ms = Number(f[6]))
                t.duration = *ms / 1000;
            t.firstTimecode = f[7];
            tracks.push_back(t);
        }
    }
    return tracks;
}
