// vyrk-sample: writes .Vyrk recordings with real H.265 video and PCM audio for tests, demos and
// benchmarks, optionally with the kinds of damage the reader has to survive.

#include "CAnnexBSource.h"
#include "CRecordLayout.h"
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

    void Write(const SSampleOptions& o, const SRecordItem& item,
               const std::vector<uint8_t>& payload) {
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

bool WriteItems(const SSampleOptions& o, const std::vector<SRecordItem>& items,
                CRecordingWriter& writer, Counts& counts) {
    Dumps dumps;
    if (o.dumpStreams)
        dumps.Open(o);
    const CSampleAudio sound(o);
    std::vector<uint8_t> audio;
    int32_t recordIndex = 0;
    for (const SRecordItem& item : items) {
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
    const std::vector<SRecordItem> items = CRecordLayout(o).Build(video);

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
