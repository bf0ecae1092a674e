#pragma once

#include <array>
#include <cstdint>

// Tells, for each channel's first picture after the reader skipped damage, whether the damage
// took pictures of that channel: its stamp has moved on by more than a picture and a half since
// the channel's picture before. Reader thread only.
class CPictureLossWatch {
public:
    static constexpr int kMaxChannels = 8;

    explicit CPictureLossWatch(int64_t frameUs = 33333) : m_nFrameUs(frameUs) {
        m_lastUs.fill(kNone);
    }
    void SetFrameDuration(int64_t frameUs) { m_nFrameUs = frameUs; }
    // A picture of the channel (0 to kMaxChannels - 1) stamped stampUs, with the number of
    // places the reader has skipped so far; true when damage took pictures before it.
    bool LostBefore(int channel, uint64_t stampUs, int damagePlaces);

private:
    static constexpr uint64_t kNone = UINT64_MAX;

    int64_t m_nFrameUs;
    int m_nPlacesSeen = 0;
    std::array<uint64_t, kMaxChannels> m_lastUs;
    std::array<bool, kMaxChannels> m_seenSincePlace{};
};
