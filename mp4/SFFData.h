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
    uint64_t nTimestamp;       // microseconds, the record clock
};

using FramePtr = std::shared_ptr<SFFData>;

// Queues a frame. Video keeps the order it arrives in: it always goes to the back, so no time
// stamp can move a unit in front of one that came earlier. Audio is placed among the video by
// time: in front of the video frames at the back that carry a later time stamp, but never in
// front of an earlier audio frame, and at most kMaxAudioOvertake frames forward. The caller holds
// the queue's lock.
void InsertByTimestamp(std::deque<FramePtr>& items, FramePtr frame);

constexpr size_t kMaxAudioOvertake = 256;
