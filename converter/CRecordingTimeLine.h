#pragma once

#include "CStartWindow.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// The one time line of a recording, shared by every channel: it turns each record's stamp (the
// rig's clock, microseconds) into a time on the recording's own clock, where the clock's steps
// are taken out, and finds the recording's zero.
//
// The records of a recording come roughly in the order of time, so the latest time seen (the
// front) tells where the recording is. A record is in line when it is near the front or where its
// own stream was heading. One that is not is held, with everything after it, until the records
// that follow tell what it was:
// - a stray: its own stream goes on in line after it; it is placed where its stream was heading;
// - a step of the clock: every stream that was running jumps by the same amount; the clock is
//   re-anchored, so the recording plays on without a break (a pause of the whole recording looks
//   the same and is closed up the same way);
// - a stream of its own: it stays off while the others run on; that stream alone is moved back
//   to the front.
// Lost data needs none of this: a stream that lost some records resumes at the front.
//
// The zero is the earliest time among the first records that agree with each other, decided
// from the first second or so of the recording before anything is handed on. Every decision
// depends only on the records and their order, so a recording always gives the same times.
// Reader thread only.
class CRecordingTimeLine {
public:
    static constexpr int kMaxStreams = 16; // video and audio of 8 channels

    struct SRecord {
        int stream;
        uint64_t stampUs;
        int64_t durationUs; // how far the record takes its stream
        const uint8_t* data;
        int32_t size;
        int32_t extra;
        // The first video record of its channel after damage took pictures of the channel.
        bool afterDamage = false;
    };
    // Each record in the order it came, with its time on the recording's clock. Called first
    // only once the zero is known.
    using Sink = std::function<void(const SRecord& record, uint64_t timeUs)>;
    using ZeroSink = std::function<void(uint64_t zeroUs)>;

    CRecordingTimeLine(Sink sink, ZeroSink zeroSink) : m_sink(sink), m_zeroSink(zeroSink) {}

    // The record's payload is copied only when it has to be held.
    void Add(const SRecord& record);
    // No record follows: everything held is handed on.
    void Finish();

    bool HasZero() const { return m_bHasZero; }
    uint64_t ZeroUs() const { return m_nZeroUs; }
    // Time of the stream's first record after the zero; false when it has none.
    bool StreamStart(int stream, int64_t& sinceZeroUs) const;
    int ClockSteps() const { return m_nSteps; }

private:
    struct SStream {
        bool started = false;
        uint64_t firstUs = 0;
        uint64_t lastUs = 0; // time of its latest record
        int64_t lastDurationUs = 0;
        int64_t shiftUs = 0; // stamp - shift = time on the recording's clock
        uint64_t ExpectedUs() const { return lastUs + static_cast<uint64_t>(lastDurationUs); }
    };
    struct SHeld {
        SRecord record;
        std::vector<uint8_t> payload;
        bool hasNewShift = false; // its stream takes newShiftUs from this record on
        int64_t newShiftUs = 0;
    };
    enum class Mode { Settling, Running, Holding };
    // What the records after an odd one have shown so far.
    struct SSuspect {
        int stream = -1;
        int64_t offUs = 0;       // how far it was from where its stream was heading
        uint64_t frontUs = 0;    // the front when it came
        uint64_t newFrontUs = 0; // the front moved on by records in line since
        bool sustained = false;  // its stream went on from it
        bool strayed = false;    // its stream went on in line, as if it had not been
        std::array<bool, kMaxStreams> jumped{};
        std::array<bool, kMaxStreams> active{};
        std::array<size_t, kMaxStreams> jumpAt{};
        int64_t stepUs = 0;
        bool stepFromAudio = false;
        std::array<int64_t, kMaxStreams> shiftsUs{}; // the stream clocks when it came
        int64_t heldBytes = 0;
    };

    void Pump();
    void Route(SHeld& held, bool copied);
    bool IsInLine(const SStream& s, uint64_t timeUs) const;
    void Accept(SHeld& held, bool copied, uint64_t timeUs);
    void Deliver(SHeld& held, bool copied, uint64_t timeUs);
    void HandOnCollected();
    bool IsClockStep(const SSuspect& q) const;
    void Hold(SHeld& held, bool copied);
    void Suspect(SHeld& held, bool copied);
    void Examine(const SHeld& held);
    bool Decide(bool end);
    void Release(bool asStray);
    std::vector<CStartWindow::SStamp> HeldStamps() const;
    void Settle();
    bool SettleDue() const;

    Sink m_sink;
    ZeroSink m_zeroSink;
    Mode m_mode = Mode::Settling;
    std::array<SStream, kMaxStreams> m_streams;
    uint64_t m_nFrontUs = 0;
    bool m_bHasFront = false;
    uint64_t m_nZeroUs = 0;
    bool m_bHasZero = false;
    std::deque<SHeld> m_held;  // held records, in the order they came
    std::deque<SHeld> m_input; // records to route again after a decision
    struct SCollected {
        SHeld held;
        uint64_t timeUs;
    };
    // Once the start is settled, what it hands on waits here until the zero is known.
    std::vector<SCollected> m_collected;
    bool m_bCollecting = false;
    size_t m_nPlaceInLine = 0; // records still to be placed without holding
    SSuspect m_suspect;
    int64_t m_nSettleBytes = 0;
    int m_nSteps = 0;
};
