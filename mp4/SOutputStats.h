#pragma once

#include <atomic>
#include <cstdint>

// Why a channel's file could not be written.
enum class OutputFailure {
    None,
    Create,      // the file could not be created or its header not written
    Write,       // writing a packet failed, or a frame could not be kept for it (out of memory)
    Finish,      // the trailer, closing, flushing or renaming the finished file failed
    Disappeared, // the file was removed while it was written
    Encode,      // encoding the audio failed, or the encoder could not be set up
    // The channel had pictures, but no file: every parameter set that came was refused by the
    // decoder, so nothing could be decoded.
    NoDecodableVideo,
    // The channel had pictures, but no file: no complete parameter set ever came.
    NoParameterSets,
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
    // Pictures left out because the file could not be opened yet when they came. Damaged: a
    // parameter set had come and the decoder refused it, so these pictures are lost to damage.
    // Before sets: no usable parameter set had been checked yet, as when a recording starts in
    // the middle of a group of pictures; nothing is lost that could have been shown.
    std::atomic<int64_t> picturesDamaged{0};
    std::atomic<int64_t> picturesBeforeSets{0};
    // The file was given up on request (CMP4::Abandon): removed, with no failure.
    std::atomic<bool> abandoned{false};

    void Fail(OutputFailure what, int code) {
        // The first failure is the reason; what follows from it is not.
        OutputFailure none = OutputFailure::None;
        if (failure.compare_exchange_strong(none, what))
            error = code;
    }
};
