#pragma once

#include <cstdint>

// Where a video stream can go on after damage took some of its pictures: the pictures that
// follow refer to the lost ones and cannot be decoded, up to the next random-access picture;
// after a CRA or BLA, so do the leading pictures that refer back past it. Parameter sets and
// the like are always kept. One stream's NAL units, in order, on one thread.
class CDamageResume {
public:
    explicit CDamageResume(bool isHevc = true) : m_bHevc(isHevc) {}

    void SetHevc(bool isHevc) { m_bHevc = isHevc; }
    // Damage just took pictures: leave out what cannot be decoded from here on.
    void Start() { m_eState = State::ToRandomAccess; }
    bool IsActive() const { return m_eState != State::Decoding; }
    // True when the unit (NAL header first, no start code) is left out; *picture then says
    // whether it begins a picture.
    bool Skips(const uint8_t* unit, int32_t length, bool* picture);

private:
    enum class State { Decoding, ToRandomAccess, PastLeading };

    bool SkipsSlice(int type, bool randomAccess, bool leading);

    bool m_bHevc;
    State m_eState = State::Decoding;
    bool m_bSkippedLast = false; // the last slice was left out: so is a suffix SEI after it
};
