#pragma once

#include "CFileLoader.h"
#include "CRecordingWriter.h"
#include "ILoaderCallback.h"
#include "RecordHeader.h"

#include "TempDir.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What reached a consumer of one record: its header and a hash of its payload.
struct Delivered {
    RecordHeader header;
    uint64_t hash;
    bool operator==(const Delivered& o) const;
};

uint64_t Hash(const uint8_t* p, size_t n);
// n bytes of a fixed pseudo-random pattern; a video payload begins with a start code.
std::vector<uint8_t> Pattern(size_t n, uint32_t seed);
std::vector<uint8_t> VideoPayload(size_t n, uint32_t seed);

// A consumer that records what reaches it and answers as the test tells it to.
class CRecorder : public ILoaderCallback {
public:
    int32_t OnData(const uint8_t* header, const uint8_t* payload) override;
    void OnEnd(int32_t status, int32_t a, int32_t b) override;
    bool IsIdle() override;
    int64_t GetPendingBytes() override;
    virtual ~CRecorder() = default;

    size_t Count();
    std::vector<Delivered> Records();

    std::function<int32_t(size_t)> m_result;
    std::function<void()> m_onEnd;
    std::atomic<bool> m_bIdle{true};
    std::atomic<int> m_nIdleCalls{0};
    std::atomic<int64_t> m_nPending{0};
    std::atomic<int> m_nPendingCalls{0};
    std::atomic<int> m_nEnds{0};

private:
    std::mutex m_mutex;
    std::vector<Delivered> m_records;
};

// Reads the recording to its end into the recorder; what the loader reported after it finished.
struct SReadOutcome {
    std::vector<Delivered> records;
    SReadDamage damage;
    int64_t bytesConsumed = 0;
    bool readToEnd = false;
    int readError = 0;
    int abortError = 0;
    bool givenUp = false;
};
SReadOutcome ReadOutcome(const std::string& path, CRecorder& recorder);
std::vector<Delivered> ReadAll(const std::string& path, CRecorder& recorder);
std::vector<Delivered> ReadAll(const std::string& path);

// Writes records with the given payload sizes and returns what a reader should deliver.
std::vector<Delivered> WriteRecords(CRecordingWriter& writer, const std::vector<size_t>& sizes);
// Writes one record and returns what a reader should deliver for it.
Delivered WriteRecord(CRecordingWriter& writer, RecordHeader header,
                      const std::vector<uint8_t>& payload);
std::string WriteFile(const TempDir& dir, const std::string& name, const std::vector<size_t>& sizes,
                      std::vector<Delivered>& expected,
                      CRecordingWriter::Magic magic = CRecordingWriter::Magic::V81);
void AppendBytes(const std::string& path, const std::vector<uint8_t>& bytes);
