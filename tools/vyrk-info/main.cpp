// vyrk-info: reads a .Vyrk recording with the recording loader and prints its header fields and
// how many records it holds per channel, type and subType.

#include "CFileLoader.h"
#include "ILoaderCallback.h"
#include "RecordHeader.h"

#include <cstdio>
#include <map>
#include <tuple>
#include <unistd.h>

namespace {

class CCounter : public ILoaderCallback {
public:
    int32_t OnData(const uint8_t* header, const uint8_t*) override {
        const RecordHeader h = RecordHeader::Decode(header);
        ++m_counts[std::make_tuple(int(h.channel), int(h.type), int(h.subType))];
        m_nPayloadBytes += static_cast<uint64_t>(h.payloadSize);
        return 0;
    }
    void OnEnd(int32_t, int32_t, int32_t) override {}
    bool IsIdle() override { return true; }
    int64_t GetPendingBytes() override { return 0; }
    virtual ~CCounter() = default;

    std::map<std::tuple<int, int, int>, long> m_counts;
    uint64_t m_nPayloadBytes = 0;
};

const char* VersionName(FILE* file) {
    uint8_t magic[RecordingMagic::kSize] = {};
    if (fread(magic, 1, sizeof(magic), file) == 0)
        return "unrecognised";
    switch (RecordingMagic::Classify(magic)) {
    case RecordingMagic::Version::V80:
        return "V80";
    case RecordingMagic::Version::V81:
        return "V81";
    default:
        return "unrecognised";
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: vyrk-info FILE.Vyrk\n");
        return 2;
    }
    CFileLoader loader;
    if (!loader.Init(argv[1])) {
        fprintf(stderr, "vyrk-info: cannot open %s\n", argv[1]);
        return 1;
    }
    FILE* file = fopen(argv[1], "rb");
    const char* version = file ? VersionName(file) : "unrecognised";
    if (file)
        fclose(file);
    const RecordingHeader& h = loader.m_header;
    printf("file %s\n", argv[1]);
    printf("magic %s\n", version);
    printf("channelCount %d\nvideoWidth %d\nvideoHeight %d\nframeRate %d/%d\nvideoBitRate %u\n",
           h.channelCount(), h.videoWidth(), h.videoHeight(), h.frameRateNum(), h.frameRateDen(),
           h.videoBitRate());

    CCounter counter;
    loader.SetCallback(&counter);
    if (!loader.Start()) {
        fprintf(stderr, "vyrk-info: cannot start the reader\n");
        return 1;
    }
    while (!loader.IsFinished())
        usleep(1000);
    long records = 0;
    for (const auto& entry : counter.m_counts)
        records += entry.second;
    printf("records %ld, payload bytes %llu\n", records,
           static_cast<unsigned long long>(counter.m_nPayloadBytes));
    for (const auto& entry : counter.m_counts)
        printf("channel %d type %d subType %d records %ld\n", std::get<0>(entry.first),
               std::get<1>(entry.first), std::get<2>(entry.first), entry.second);
    return 0;
}
