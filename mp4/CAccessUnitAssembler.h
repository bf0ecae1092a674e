#pragma once

#include "SFFData.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Groups the NAL units of one channel, in the order the recording holds them, into access units:
// everything that belongs to one picture, parameter sets and SEI in front of it included. A new
// access unit begins where the standard says one does once the current one has a picture: at a
// parameter set, access-unit delimiter or prefix SEI, or at a slice that is the first of its
// picture. The access unit takes the time of its first slice's record, so the units in front of
// the picture never shift it.
class CAccessUnitAssembler {
public:
    struct SAccessUnit {
        std::vector<uint8_t> bytes; // Annex B units; followed by zeroed padding for the parser
        size_t size = 0;            // bytes of units, without the padding
        uint64_t timestampUs = 0;
        int pictureNalType = -1; // NAL type of the first slice; -1 when there is no picture
        // The bytes a parser needs for the picture's order count and key flag: every unit up to
        // the first slice and the start of that slice (H.265); all of them for H.264.
        size_t headerSize = 0;
        bool endsSequence = false; // holds an end-of-sequence or end-of-stream unit
    };

    static constexpr size_t kPadding =
        64; // the parser's input padding (AV_INPUT_BUFFER_PADDING_SIZE)
    // How much of an H.265 slice is kept for the parser: its header up to the order count
    // takes a few bytes.
    static constexpr size_t kSliceHeaderBytes = 64;
    // Units gathered in front of a picture beyond this are dropped: no picture follows them.
    static constexpr size_t kMaxUnitsWithoutPicture = 16u << 20;

    explicit CAccessUnitAssembler(bool isHevc) : m_bHevc(isHevc) {}

    // Adds one video unit (start code included, NAL type and record time as queued), taking
    // its bytes. When it begins a new access unit, the finished one is moved into completed and
    // true is returned.
    bool Add(SFFData&& unit, SAccessUnit& completed);
    // Hands out the access unit being gathered, if any.
    bool Flush(SAccessUnit& completed);

    // True for a slice that is the first of its picture.
    bool StartsPicture(const SFFData& unit) const {
        return IsPicture(unit.nNalType) && IsFirstSlice(unit.data);
    }
    bool IsPicture(int nalType) const {
        return m_bHevc ? nalType <= 31 : nalType >= 1 && nalType <= 5;
    }

private:
    bool BeginsAccessUnit(const std::vector<uint8_t>& unit, int nalType) const;
    bool IsFirstSlice(const std::vector<uint8_t>& unit) const;
    bool EndsSequence(int nalType) const;
    void Finish(SAccessUnit& completed);

    bool m_bHevc;
    SAccessUnit m_current;
};
