#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// One media frame on its way from the reader thread to a muxer's writer thread.
struct SFFData {
    uint8_t bIsVideo;          // 1 video, 0 audio
    uint8_t nNalType;          // video only: NAL unit type of the unit in data
    std::vector<uint8_t> data; // video: 00 00 00 01 + one NAL unit; audio: 16-bit PCM bytes
    int32_t extra;             // carried along from the record header, not interpreted
    uint64_t nTimestamp;       // milliseconds; the queue's ordering key
};

using FramePtr = std::shared_ptr<SFFData>;

// Inserts frame after every queued frame whose time stamp is less than or equal to its own, so
// the queue stays sorted and equal time stamps keep their arrival order. The caller holds the
// queue's lock. In-order frames are appended at once; a late frame is placed by bisection.
void InsertByTimestamp(std::deque<FramePtr>& items, FramePtr frame);
