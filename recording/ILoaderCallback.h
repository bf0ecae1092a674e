#pragma once

#include <cstdint>

// The consumer of a loader's records. Every call comes from the loader's reader thread, one at
// a time.
class ILoaderCallback {
public:
    // One complete record: header points at its 19 header bytes, payload at its payloadSize
    // bytes. Both are valid only during the call. Returns the bytes the consumer
    // still holds queued, all channels together.
    virtual int32_t OnData(const uint8_t* header, const uint8_t* payload) = 0;
    // Called once per run after the last record. Status 0: finish and close every output
    // before returning.
    virtual void OnEnd(int32_t status, int32_t a, int32_t b) = 0;
    // True when the consumer holds no queued data at all.
    virtual bool IsIdle() = 0;
    // The bytes the consumer holds queued, all channels together: asked while the reader pauses
    // for room.
    virtual int64_t GetPendingBytes() = 0;

protected:
    ~ILoaderCallback() = default;
};
