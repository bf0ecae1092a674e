// vyrk-sample: writes .Vyrk recordings with real H.265 video and PCM audio for tests, demos and
// benchmarks, optionally with the kinds of damage the reader has to survive.

#include "CAnnexBSource.h"
#include "CRecordingWriter.h"
#include "CVideoEncoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using Units = std::vector<std::vector<uint8_t>>;

struct Options {
    std::string output;
    std::string magic = "v81";
    int channels = 7;
    int headerChannels = -1; // -1: same as channels
    CVideoEncoder::Settings video;
    double seconds = 2.0;
    int uniquePictures = 0; // 0: encode every picture; otherwise encode this many and repeat
    int audioSamples = 1024;
    bool audio = true;
    std::map<int, std::string> hevcInputs;
    bool otherTypes = false;
    bool subType1 = false;
    bool foreignChannels = false;
    bool emptyPayloads = false;
    long truncateBytes = 0;
    bool dumpStreams = false;
    bool quiet = false;
};

// One record to write; payloads are referenced, not copied, so long recordings stay small in
// memory.
struct Item {
    uint64_t timestampUs;
    int order;
    uint8_t channel;
    uint8_t type;
    uint8_t subType;
    const std::vector<uint8_t>* payload; // null: audio block generated at write time
    int64_t audioBlock;
    int sourceChannel;
};

void Usage() {
    fprintf(stderr,
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
            "  --audio-samples N       samples per audio record (default 1024)\n"
            "  --no-audio              write no audio records\n"
            "  --inject-other-types    add records of types 1, 3 and 255\n"
            "  --inject-subtype1       add video records with subType 1\n"
            "  --inject-foreign        add records for channels without an output\n"
            "  --inject-empty          add records with an empty payload\n"
            "  --truncate N            cut N bytes off the end of the file\n"
            "  --dump-streams          also write NAME.chN.hevc and NAME.chN.pcm\n"
            "  --quiet                 print no summary\n");
}

bool ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "vyrk-sample: %s needs a value\n", name);
                exit(2);
            }
            return argv[++i];
        };
        if (a == "-o")
            o.output = next("-o");
        else if (a == "--magic")
            o.magic = next("--magic");
        else if (a == "--channels")
            o.channels = atoi(next("--channels"));
        else if (a == "--header-channels")
            o.headerChannels = atoi(next("--header-channels"));
        else if (a == "--width")
            o.video.width = atoi(next("--width"));
        else if (a == "--height")
            o.video.height = atoi(next("--height"));
        else if (a == "--fps")
            o.video.fps = atoi(next("--fps"));
        else if (a == "--seconds")
            o.seconds = atof(next("--seconds"));
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
        else if (a == "--unique")
            o.uniquePictures = atoi(next("--unique"));
        else if (a == "--hevc") {
            const std::string v = next("--hevc");
            const size_t eq = v.find('=');
            if (eq == std::string::npos)
                return false;
            o.hevcInputs[atoi(v.substr(0, eq).c_str())] = v.substr(eq + 1);
        } else if (a == "--audio-samples")
            o.audioSamples = atoi(next("--audio-samples"));
        else if (a == "--no-audio")
            o.audio = false;
        else if (a == "--inject-other-types")
            o.otherTypes = true;
        else if (a == "--inject-subtype1")
            o.subType1 = true;
        else if (a == "--inject-foreign")
            o.foreignChannels = true;
        else if (a == "--inject-empty")
            o.emptyPayloads = true;
        else if (a == "--truncate")
            o.truncateBytes = atol(next("--truncate"));
        else if (a == "--dump-streams")
            o.dumpStreams = true;
        else if (a == "--quiet")
            o.quiet = true;
        else
            return false;
    }
    if (o.video.keyInterval <= 0)
        o.video.keyInterval = o.video.fps;
    return !o.output.empty() && o.channels >= 0 && o.channels <= 256 && o.video.fps > 0 &&
           o.audioSamples > 0 && o.seconds >= 0;
}

bool LoadChannelVideo(const Options& o, int channel, Units& units) {
    std::string error;
    auto input = o.hevcInputs.find(channel);
    bool ok;
    if (input != o.hevcInputs.end()) {
        ok = CAnnexBSource::Load(input->second, units, error);
    } else {
        const int total = static_cast<int>(std::lround(o.seconds * o.video.fps));
        const int pictures = o.uniquePictures > 0 ? std::min(o.uniquePictures, total) : total;
        CVideoEncoder encoder(o.video, channel);
        ok = encoder.Open(error) && encoder.Encode(pictures, units, error);
    }
    if (!ok)
        fprintf(stderr, "vyrk-sample: channel %d: %s\n", channel, error.c_str());
    return ok;
}

void AudioBlock(int channel, int64_t block, int samples, std::vector<uint8_t>& out) {
    const double frequency = 440.0 + 110.0 * channel;
    out.resize(static_cast<size_t>(samples) * 2);
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(block * samples + i) / 44100.0;
        const int16_t v =
            static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * frequency * t)));
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
    }
}

uint64_t VideoTimeUs(int64_t picture, int fps) {
    return static_cast<uint64_t>(picture * 1000000 / fps);
}

// Junk that must never reach a muxer: looks like a slice so it would damage a stream.
const std::vector<uint8_t>& Junk() {
    static const std::vector<uint8_t> junk = {0, 0, 0, 1,    0x02, 0x01, 0xAA, 0x55, 0xAA, 0x55,
                                              0, 0, 1, 0x26, 0x01, 0x13, 0x37, 0x00, 0x42};
    return junk;
}

const std::vector<uint8_t>& Empty() {
    static const std::vector<uint8_t> empty;
    return empty;
}

void AddInjections(const Options& o, int channel, int64_t picture, uint64_t t,
                   const std::vector<uint8_t>* unit, int& order, std::vector<Item>& items) {
    if (picture % 10 != 5)
        return;
    const uint8_t ch = static_cast<uint8_t>(channel);
    if (o.otherTypes) {
        static const uint8_t kTypes[] = {1, 3, 255};
        items.push_back({t, order++, ch, kTypes[(picture / 10) % 3], 0, &Junk(), 0, channel});
    }
    if (o.subType1)
        items.push_back({t, order++, ch, 0, 1, &Junk(), 0, channel});
    if (o.emptyPayloads) {
        items.push_back({t, order++, ch, 0, 0, &Empty(), 0, channel});
        items.push_back({t, order++, ch, 2, 0, &Empty(), 0, channel});
    }
    if (o.foreignChannels && channel == 0) {
        const int count = o.headerChannels >= 0 ? o.headerChannels : o.channels;
        for (int foreign : {count, count + 1, 8, 255})
            if (foreign >= o.channels && foreign < 256)
                items.push_back(
                    {t, order++, static_cast<uint8_t>(foreign), 0, 0, unit, 0, channel});
    }
}

bool Run(const Options& o) {
    std::vector<Units> video(static_cast<size_t>(o.channels));
    for (int ch = 0; ch < o.channels; ++ch)
        if (!LoadChannelVideo(o, ch, video[static_cast<size_t>(ch)]))
            return false;

    std::vector<Item> items;
    int order = 0;
    const int64_t totalPictures = std::lround(o.seconds * o.video.fps);
    for (int ch = 0; ch < o.channels; ++ch) {
        const Units& units = video[static_cast<size_t>(ch)];
        const bool external = o.hevcInputs.count(ch) > 0;
        const int64_t pictures = external ? static_cast<int64_t>(units.size()) : totalPictures;
        for (int64_t p = 0; p < pictures; ++p) {
            const uint64_t t = VideoTimeUs(p, o.video.fps);
            const std::vector<uint8_t>* unit = &units[static_cast<size_t>(p) % units.size()];
            items.push_back({t, order++, static_cast<uint8_t>(ch), 0, 0, unit, 0, ch});
            AddInjections(o, ch, p, t, unit, order, items);
        }
        if (!o.audio)
            continue;
        const int64_t blocks =
            static_cast<int64_t>(std::ceil(o.seconds * 44100.0 / o.audioSamples));
        for (int64_t b = 0; b < blocks; ++b) {
            const uint64_t t = static_cast<uint64_t>(b * o.audioSamples * 1000000 / 44100);
            items.push_back({t, order++, static_cast<uint8_t>(ch), 2, 0, nullptr, b, ch});
        }
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.timestampUs != b.timestampUs ? a.timestampUs < b.timestampUs : a.order < b.order;
    });

    RecordingHeader header;
    header.SetV80Defaults();
    header.SetFieldAt(RecordingHeader::kChannelCountOffset,
                      o.headerChannels >= 0 ? o.headerChannels : o.channels);
    header.SetFieldAt(RecordingHeader::kVideoWidthOffset, o.video.width);
    header.SetFieldAt(RecordingHeader::kVideoHeightOffset, o.video.height);
    header.SetFieldAt(RecordingHeader::kFrameRateNumOffset, o.video.fps);
    header.SetFieldAt(RecordingHeader::kFrameRateDenOffset, 1);
    header.SetFieldAt(RecordingHeader::kVideoBitRateOffset,
                      static_cast<int32_t>(o.video.bitRate > 0 ? o.video.bitRate / 1000 : 7000));
    const CRecordingWriter::Magic magic = o.magic == "v80" ? CRecordingWriter::Magic::V80
                                          : o.magic == "v81"
                                              ? CRecordingWriter::Magic::V81
                                              : CRecordingWriter::Magic::Unrecognised;
    CRecordingWriter writer;
    if (!writer.Open(o.output, magic, header)) {
        fprintf(stderr, "vyrk-sample: cannot write %s\n", o.output.c_str());
        return false;
    }

    const std::string stem = o.output.substr(
        0, o.output.rfind('.') == std::string::npos ? o.output.size() : o.output.rfind('.'));
    std::vector<std::ofstream> hevcDump, pcmDump;
    if (o.dumpStreams)
        for (int ch = 0; ch < o.channels; ++ch) {
            const std::string base = stem + ".ch" + std::to_string(ch);
            hevcDump.emplace_back(base + ".hevc", std::ios::binary);
            pcmDump.emplace_back(base + ".pcm", std::ios::binary);
        }

    std::map<std::tuple<int, int, int>, long> counts;
    std::vector<uint8_t> audio;
    int32_t recordIndex = 0;
    for (const Item& item : items) {
        const std::vector<uint8_t>* payload = item.payload;
        if (!payload) {
            AudioBlock(item.channel, item.audioBlock, o.audioSamples, audio);
            payload = &audio;
        }
        if (!writer.WriteRecord(item.channel, item.timestampUs, item.type, item.subType, *payload,
                                recordIndex++)) {
            fprintf(stderr, "vyrk-sample: write failed on %s\n", o.output.c_str());
            return false;
        }
        ++counts[std::make_tuple(item.channel, item.type, item.subType)];
        const bool own = item.channel == item.sourceChannel && item.subType == 0;
        if (o.dumpStreams && own && item.channel < o.channels) {
            const auto ch = static_cast<size_t>(item.channel);
            if (item.type == 0)
                hevcDump[ch].write(reinterpret_cast<const char*>(payload->data()),
                                   static_cast<std::streamsize>(payload->size()));
            else if (item.type == 2)
                pcmDump[ch].write(reinterpret_cast<const char*>(payload->data()),
                                  static_cast<std::streamsize>(payload->size()));
        }
    }
    const uint64_t size = writer.BytesWritten();
    if (!writer.Close()) {
        fprintf(stderr, "vyrk-sample: write failed on %s\n", o.output.c_str());
        return false;
    }
    if (o.truncateBytes > 0 &&
        truncate(o.output.c_str(), static_cast<off_t>(size) - o.truncateBytes) != 0) {
        fprintf(stderr, "vyrk-sample: cannot truncate %s\n", o.output.c_str());
        return false;
    }
    if (!o.quiet) {
        printf("wrote %s: %llu bytes, %zu records\n", o.output.c_str(),
               static_cast<unsigned long long>(size - static_cast<uint64_t>(o.truncateBytes)),
               items.size());
        for (const auto& entry : counts)
            printf("channel %d type %d subType %d records %ld\n", std::get<0>(entry.first),
                   std::get<1>(entry.first), std::get<2>(entry.first), entry.second);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArgs(argc, argv, options)) {
        Usage();
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    return Run(options) ? 0 : 1;
}
