// vyrk-sample: writes .Vyrk recordings with real H.265 video and PCM audio for tests, demos and
// benchmarks, optionally with the kinds of damage the reader has to survive.

#include "CAnnexBSource.h"
#include "CRecordingWriter.h"
#include "CSampleAudio.h"
#include "CVideoEncoder.h"
#include "FindNalUnit.h"
#include "SChannelVideo.h"
#include "SSampleOptions.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

// One record to write; payloads are referenced, not copied, so long recordings stay small in
// memory. Records go out sorted by writeUs, then order; timestampUs is the stamp written.
struct Item {
    int64_t writeUs;
    uint64_t timestampUs;
    int order;
    uint8_t channel;
    uint8_t type;
    uint8_t subType;
    const std::vector<uint8_t>* payload; // null: audio block generated at write time
    int64_t audioBlock;
    int sourceChannel;
};

int64_t VideoTimeUs(int64_t picture, int fps) {
    return std::llround(static_cast<double>(picture) * 1e6 / fps);
}

// The stamp written for a time relative to the first picture; never below 0.
uint64_t Stamp(const SSampleOptions& o, int64_t us) {
    if (us < 0 && static_cast<uint64_t>(-us) > o.clockBaseUs)
        return 0;
    return o.clockBaseUs + static_cast<uint64_t>(us);
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

// Adds the injected records next to the video record of the given picture (a copy, as items
// grows meanwhile).
void AddInjections(const SSampleOptions& o, int64_t picture, Item video, int& order,
                   std::vector<Item>& items) {
    if (picture % 10 != 5)
        return;
    auto add = [&](int channel, uint8_t type, uint8_t subType, const std::vector<uint8_t>* data) {
        Item item = video;
        item.order = order++;
        item.channel = static_cast<uint8_t>(channel);
        item.type = type;
        item.subType = subType;
        item.payload = data;
        items.push_back(item);
    };
    const int channel = video.channel;
    if (o.otherTypes) {
        static const uint8_t kTypes[] = {1, 3, 255};
        add(channel, kTypes[(picture / 10) % 3], 0, &Junk());
    }
    if (o.subType1)
        add(channel, 0, 1, &Junk());
    if (o.emptyPayloads) {
        add(channel, 0, 0, &Empty());
        add(channel, 2, 0, &Empty());
    }
    if (o.foreignChannels && channel == 0) {
        const int count = o.HeaderChannels();
        for (int foreign : {count, count + 1, 8, 255})
            if (foreign >= o.channels && foreign < 256)
                add(foreign, 0, 0, video.payload);
    }
}

int64_t PicturesOf(const SSampleOptions& o, int channel, const SChannelVideo& video) {
    return o.hevcInputs.count(channel) > 0 ? static_cast<int64_t>(video.records.size())
                                           : o.TotalPictures();
}

// The picture shown by the access unit at the given position in decode order.
int64_t CapturedPicture(const SChannelVideo& video, int64_t position) {
    if (video.pictures.empty())
        return position;
    const auto count = static_cast<int64_t>(video.pictures.size());
    return position / count * count + video.pictures[static_cast<size_t>(position % count)];
}

// Video records stay in decode order: they are written at the time of their position in it,
// whatever they are stamped with.
void AddVideoItems(const SSampleOptions& o, int channel, const SChannelVideo& video, int& order,
                   std::vector<Item>& items) {
    const int64_t pictures = PicturesOf(o, channel, video);
    const int fps = o.video.fps;
    for (int64_t p = 0; p < pictures; ++p) {
        const Units& payloads = video.records[static_cast<size_t>(p) % video.records.size()];
        const int64_t writeUs = VideoTimeUs(p, fps);
        const uint64_t t =
            Stamp(o, o.captureStamps ? VideoTimeUs(CapturedPicture(video, p), fps) : writeUs);
        const auto ch = static_cast<uint8_t>(channel);
        for (const std::vector<uint8_t>& payload : payloads)
            items.push_back({writeUs, t, order++, ch, 0, 0, &payload, 0, channel});
        AddInjections(o, p, items[items.size() - payloads.size()], order, items);
    }
}

// Audio records go from the audio start to the end of the video (at least --seconds), written
// in sample order at their true times; gaps leave records out and jitter only moves stamps.
void AddAudioItems(const SSampleOptions& o, int channel, const SChannelVideo& video, int& order,
                   std::vector<Item>& items) {
    const double videoEnd = static_cast<double>(PicturesOf(o, channel, video)) / o.video.fps;
    const double end = std::max(o.seconds, videoEnd);
    const CSampleAudio audio(o);
    const int64_t blocks = audio.BlocksUntil(end);
    for (int64_t b = 0; b < blocks; ++b) {
        const int64_t us = audio.TimeUs(b);
        if (audio.InGap(us))
            continue;
        const uint64_t t = Stamp(o, us + audio.JitterUs(channel, b));
        items.push_back({us, t, order++, static_cast<uint8_t>(channel), 2, 0, nullptr, b, channel});
    }
}

std::vector<Item> BuildItems(const SSampleOptions& o, const std::vector<SChannelVideo>& video) {
    std::vector<Item> items;
    int order = 0;
    for (int ch = 0; ch < o.channels; ++ch) {
        AddVideoItems(o, ch, video[static_cast<size_t>(ch)], order, items);
        if (o.audio)
            AddAudioItems(o, ch, video[static_cast<size_t>(ch)], order, items);
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.writeUs != b.writeUs ? a.writeUs < b.writeUs : a.order < b.order;
    });
    return items;
}

RecordingHeader MakeHeader(const SSampleOptions& o) {
    RecordingHeader header;
    header.SetV80Defaults();
    header.SetFieldAt(RecordingHeader::kChannelCountOffset, o.HeaderChannels());
    header.SetFieldAt(RecordingHeader::kVideoWidthOffset, o.video.width);
    header.SetFieldAt(RecordingHeader::kVideoHeightOffset, o.video.height);
    header.SetFieldAt(RecordingHeader::kFrameRateNumOffset, o.video.fps);
    header.SetFieldAt(RecordingHeader::kFrameRateDenOffset, 1);
    header.SetFieldAt(RecordingHeader::kVideoBitRateOffset,
                      static_cast<int32_t>(o.video.bitRate > 0 ? o.video.bitRate / 1000 : 7000));
    return header;
}

// Each channel's elementary streams beside the recording: exactly the bytes of its own records.
struct Dumps {
    std::vector<std::ofstream> hevc;
    std::vector<std::ofstream> pcm;

    void Open(const SSampleOptions& o) {
        const size_t dot = o.output.rfind('.');
        const std::string stem =
            o.output.substr(0, dot == std::string::npos ? o.output.size() : dot);
        for (int ch = 0; ch < o.channels; ++ch) {
            const std::string base = stem + ".ch" + std::to_string(ch);
            hevc.emplace_back(base + ".hevc", std::ios::binary);
            pcm.emplace_back(base + ".pcm", std::ios::binary);
        }
    }

    void Write(const SSampleOptions& o, const Item& item, const std::vector<uint8_t>& payload) {
        const bool own = item.channel == item.sourceChannel && item.subType == 0;
        if (!o.dumpStreams || !own || item.channel >= o.channels ||
            (item.type != 0 && item.type != 2))
            return;
        std::ofstream& out = (item.type == 0 ? hevc : pcm)[item.channel];
        out.write(reinterpret_cast<const char*>(payload.data()),
                  static_cast<std::streamsize>(payload.size()));
    }
};

using Counts = std::map<std::tuple<int, int, int>, long>;

bool WriteItems(const SSampleOptions& o, const std::vector<Item>& items, CRecordingWriter& writer,
                Counts& counts) {
    Dumps dumps;
    if (o.dumpStreams)
        dumps.Open(o);
    const CSampleAudio sound(o);
    std::vector<uint8_t> audio;
    int32_t recordIndex = 0;
    for (const Item& item : items) {
        const std::vector<uint8_t>* payload = item.payload;
        if (!payload) {
            sound.Block(item.channel, item.audioBlock, audio);
            payload = &audio;
        }
        if (!writer.WriteRecord(item.channel, item.timestampUs, item.type, item.subType, *payload,
                                recordIndex++)) {
            fprintf(stderr, "vyrk-sample: write failed on %s\n", o.output.c_str());
            return false;
        }
        if (o.listRecords)
            printf("%d %d %llu %zu\n", item.channel, item.type,
                   static_cast<unsigned long long>(item.timestampUs), payload->size());
        ++counts[std::make_tuple(item.channel, item.type, item.subType)];
        dumps.Write(o, item, *payload);
    }
    return true;
}

void PrintSummary(const SSampleOptions& o, uint64_t size, size_t records, const Counts& counts) {
    printf("wrote %s: %llu bytes, %zu records\n", o.output.c_str(),
           static_cast<unsigned long long>(size - static_cast<uint64_t>(o.truncateBytes)), records);
    for (const auto& entry : counts)
        printf("channel %d type %d subType %d records %ld\n", std::get<0>(entry.first),
               std::get<1>(entry.first), std::get<2>(entry.first), entry.second);
}

bool Run(const SSampleOptions& o) {
    std::vector<SChannelVideo> video(static_cast<size_t>(o.channels));
    for (int ch = 0; ch < o.channels; ++ch)
        if (!video[static_cast<size_t>(ch)].Load(o, ch))
            return false;
    const std::vector<Item> items = BuildItems(o, video);

    const CRecordingWriter::Magic magic = o.magic == "v80" ? CRecordingWriter::Magic::V80
                                          : o.magic == "v81"
                                              ? CRecordingWriter::Magic::V81
                                              : CRecordingWriter::Magic::Unrecognised;
    CRecordingWriter writer;
    if (!writer.Open(o.output, magic, MakeHeader(o))) {
        fprintf(stderr, "vyrk-sample: cannot write %s\n", o.output.c_str());
        return false;
    }
    Counts counts;
    if (!WriteItems(o, items, writer, counts))
        return false;
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
    if (!o.quiet)
        PrintSummary(o, size, items.size(), counts);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    SSampleOptions options;
    if (!ParseSampleOptions(argc, argv, options)) {
        fputs(kSampleUsage, stderr);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    return Run(options) ? 0 : 1;
}
