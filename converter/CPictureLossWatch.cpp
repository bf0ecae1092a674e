#include "CPictureLossWatch.h"

#include <cstddef>

bool CPictureLossWatch::LostBefore(int channel, uint64_t stampUs, int damagePlaces) {
    if (damagePlaces != m_nPlacesSeen) {
        m_nPlacesSeen = damagePlaces;
        m_seenSincePlace.fill(false);
    }
    const size_t ch = static_cast<size_t>(channel);
    const uint64_t last = m_lastUs[ch];
    const bool lost = damagePlaces > 0 && !m_seenSincePlace[ch] && last != kNone &&
                      stampUs > last && stampUs - last > static_cast<uint64_t>(m_nFrameUs * 3 / 2);
    m_seenSincePlace[ch] = true;
    m_lastUs[ch] = stampUs;
    return lost;
}
