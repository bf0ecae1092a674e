#pragma once

#include <atomic>
#include <cstdint>

// Why a channel's file could not be written.
enum class OutputFailure {
    None,
    Create,      // the file could not be created or its header not written
    Write,       // writing a packet failed
    Finish,      // the trailer, closing, flushing or renaming the finished file failed
    Disappeared, // the file was removed while it was written
};

// What one muxer has written so far. The writer thread stores, any thread may read: every field
// is atomic and no lock is involved.
struct SOutputStats {
    std::atomic<int64_t> pendingBytes{0}; // handed in, not yet written or dropped
    std::atomic<int64_t> packets{0};      // audio and video packets written
    std::atomic<int64_t> bytes{0};        // their payload bytes
    std::atomic<int64_t> mediaUs{0};      // file time reached: the latest end of a packet written
    std::atomic<int64_t> fileBytes{0};    // size of the finished file, once it has its final name
    std::atomic<OutputFailure> failure{OutputFailure::None};
    std::atomic<int> error{0}; // errno or FFmpeg error code behind the failure, when known
    // Asked for hvc1, written as hev1: the stream's parameter sets change within it.
    std::atomic<bool> hev1Instead{false};

    void Fail(OutputFailure what, int code) {
        // The first failure is the reason; what follows from it is not.
        OutputFailure none = OutputFailure::None;
        if (failure.compare_exchange_strong(none, what))
            error = code;
    }
};
