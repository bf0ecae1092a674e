#include "CSampleWriter.h"

#include "CStreamDumps.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

CRecordingWriter::Magic MagicOf(const std::string& name) {
    return name == "v80"   ? CRecordingWriter::Magic::V80
           : name == "v81" ? CRecordingWriter::Magic::V81
                           : CRecordingWriter::Magic::Unrecognised;
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

} // namespace

CSampleWriter::CSampleWriter(const SSampleOptions& options)
    : m_options(options), m_audio(options) {}

bool CSampleWriter::Write(const std::vector<SRecordItem>& items) {
    CRecordingWriter writer;
    if (!writer.Open(m_options.output, MagicOf(m_options.magic), MakeHeader(m_options))) {
        fprintf(stderr, "vyrk-sample: cannot write %s\n", m_options.output.c_str());
        return false;
    }
    if (!WriteRecords(items, writer))
        return false;
    const uint64_t size = writer.BytesWritten();
    if (!Finish(writer, size))
        return false;
    if (!m_options.quiet)
        PrintSummary(size, items.size());
    return true;
}

bool CSampleWriter::WriteRecords(const std::vector<SRecordItem>& items, CRecordingWriter& writer) {
    CStreamDumps dumps(m_options);
    std::vector<uint8_t> audio;
    int32_t recordIndex = 0;
    for (const SRecordItem& item : items) {
        const std::vector<uint8_t>* payload = item.payload;
        if (!payload) {
            m_audio.Block(item.channel, item.audioSample, audio);
            payload = &audio;
        }
        if (!writer.WriteRecord(item.channel, item.timestampUs, item.type, item.subType, *payload,
                                recordIndex++)) {
            fprintf(stderr, "vyrk-sample: write failed on %s\n", m_options.output.c_str());
            return false;
        }
        if (m_options.listRecords)
            printf("%d %d %llu %zu\n", item.channel, item.type,
                   static_cast<unsigned long long>(item.timestampUs), payload->size());
        ++m_counts[std::make_tuple(item.channel, item.type, item.subType)];
        dumps.Write(item, *payload);
    }
    return true;
}

// Closes the file, then cuts --truncate bytes off its end.
bool CSampleWriter::Finish(CRecordingWriter& writer, uint64_t size) {
    const char* path = m_options.output.c_str();
    if (!writer.Close()) {
        fprintf(stderr, "vyrk-sample: write failed on %s\n", path);
        return false;
    }
    const long cut = m_options.truncateBytes;
    if (cut > 0 && truncate(path, static_cast<off_t>(size) - cut) != 0) {
        fprintf(stderr, "vyrk-sample: cannot truncate %s\n", path);
        return false;
    }
    return true;
}

void CSampleWriter::PrintSummary(uint64_t size, size_t records) const {
    const uint64_t written = size - static_cast<uint64_t>(m_options.truncateBytes);
    printf("wrote %s: %llu bytes, %zu records\n", m_options.output.c_str(),
           static_cast<unsigned long long>(written), records);
    for (const auto& entry : m_counts)
        printf("channel %d type %d subType %d records %ld\n", std::get<0>(entry.first),
               std::get<1>(entry.first), std::get<2>(entry.first), entry.second);
}
