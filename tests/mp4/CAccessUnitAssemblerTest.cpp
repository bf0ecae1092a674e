#include "CAccessUnitAssembler.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

// 00 00 00 01, a two-byte H.265 NAL header of the type, then one payload byte.
Bytes Unit(int type, uint8_t firstPayloadByte = 0x80) {
    return {0, 0, 0, 1, static_cast<uint8_t>(type << 1), 1, firstPayloadByte};
}

// The unit as the muxer queues it.
SFFData Frame(const Bytes& bytes, uint64_t timestampUs) {
    SFFData frame;
    frame.bIsVideo = 1;
    frame.nNalType = static_cast<uint8_t>((bytes[4] >> 1) & 0x3F);
    frame.data = bytes;
    frame.extra = 0;
    frame.nTimestamp = timestampUs;
    return frame;
}

} // namespace

TEST(CAccessUnitAssembler, GroupsUnitsIntoPicturesTimedByTheirFirstSlice) {
    CAccessUnitAssembler assembler(true);
    CAccessUnitAssembler::SAccessUnit unit;
    // Parameter sets and SEI in a record of their own, earlier than the picture's slices.
    for (int type : {32, 33, 34, 39})
        EXPECT_FALSE(assembler.Add(Frame(Unit(type), 4000), unit));
    EXPECT_FALSE(assembler.Add(Frame(Unit(19), 5000), unit));       // IDR, first slice
    EXPECT_FALSE(assembler.Add(Frame(Unit(19, 0x00), 5000), unit)); // its second slice
    EXPECT_FALSE(assembler.Add(Frame(Unit(40), 5000), unit));       // suffix SEI stays with it
    EXPECT_TRUE(assembler.Add(Frame(Unit(1), 9000), unit));         // the next picture begins
    EXPECT_EQ(unit.size, 7u * 7u);
    EXPECT_EQ(unit.bytes.size(), unit.size + CAccessUnitAssembler::kPadding);
    EXPECT_EQ(unit.timestampUs, 5000u);
    EXPECT_EQ(unit.pictureNalType, 19);
    EXPECT_EQ(unit.headerSize, 5u * 7u); // the parser reads up to the first slice's header
    EXPECT_FALSE(unit.endsSequence);
    EXPECT_EQ(Bytes(unit.bytes.begin() + 28, unit.bytes.begin() + 35), Unit(19));

    EXPECT_FALSE(assembler.Add(Frame(Unit(36), 9000), unit)); // end of sequence
    ASSERT_TRUE(assembler.Flush(unit));
    EXPECT_EQ(unit.timestampUs, 9000u);
    EXPECT_TRUE(unit.endsSequence);
    EXPECT_FALSE(assembler.Flush(unit));

    // A unit too short to carry a slice header's first bit never starts a picture.
    EXPECT_FALSE(assembler.Add(Frame(Bytes{0, 0, 0, 1, 2}, 1), unit));
    EXPECT_FALSE(assembler.Add(Frame(Bytes{0, 0, 0, 1, 2, 1}, 2), unit));
}
