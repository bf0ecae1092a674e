#include "CRecordingTimeLine.h"

#include "Log.h"

#include <algorithm>

namespace {

// How far a record may be from the front, or from where its stream was heading, and still be in
// line: records of different streams come roughly, not strictly, in the order of time, and a
// camera's pictures may be stamped out of their decode order.
const int64_t kSlackUs = 1000000;
// A stream counts as running when its latest record is this close to the front.
const int64_t kActiveUs = 3000000;
// The zero is decided once the records that agree with each other span this long...
const int64_t kSettleSpanUs = 1000000;
// ... where agreeing means this close to the middle of all records seen so far.
const int64_t kSettleWindowUs = 3000000;
// However unclear the records stay, a decision is taken after this much.
const size_t kMaxHeldRecords = 8192;
const int64_t kMaxHeldBytes = 64 << 20;

// Clock values are arbitrary 64-bit numbers: differences are read as signed, distances are
// taken without overflow.
int64_t Diff(uint64_t a, uint64_t b) {
    return static_cast<int64_t>(a - b);
}

uint64_t Distance(uint64_t a, uint64_t b) {
    return std::min(a - b, b - a);
}

bool Near(uint64_t a, uint64_t b, int64_t within) {
    return Distance(a, b) <= static_cast<uint64_t>(within);
}

const char* KindOf(int stream) {
    return stream % 2 == 0 ? "video" : "audio";
}

double Seconds(int64_t us) {
    return static_cast<double>(us) / 1e6;
}

} // namespace

void CRecordingTimeLine::Add(const SRecord& record) {
    SHeld held;
    held.record = record;
    Route(held, false);
    Pump();
}

void CRecordingTimeLine::Finish() {
    if (m_mode == Mode::Settling)
        Settle();
    Pump();
    while (m_mode == Mode::Holding) {
        Decide(true);
        Pump();
    }
}

bool CRecordingTimeLine::StreamStart(int stream, int64_t& sinceZeroUs) const {
    if (stream < 0 || stream >= kMaxStreams || !m_bHasZero || !m_streams[stream].started)
        return false;
    sinceZeroUs = Diff(m_streams[stream].firstUs, m_nZeroUs);
    return true;
}

void CRecordingTimeLine::Pump() {
    while (!m_input.empty()) {
        SHeld held = std::move(m_input.front());
        m_input.pop_front();
        Route(held, true);
    }
}

void CRecordingTimeLine::Route(SHeld& held, bool copied) {
    const SRecord& r = held.record;
    const bool timed = r.stream >= 0 && r.stream < kMaxStreams && r.size > 0;
    if (timed && held.hasNewShift)
        m_streams[r.stream].shiftUs = held.newShiftUs;
    if (m_mode == Mode::Settling) {
        Hold(held, copied);
        if (SettleDue())
            Settle();
        return;
    }
    if (m_mode == Mode::Holding) {
        Hold(held, copied);
        if (timed)
            Examine(m_held.back());
        Decide(false);
        return;
    }
    if (!timed) {
        // Nothing to place: it goes where its stream's clock says.
        const int64_t shift =
            r.stream >= 0 && r.stream < kMaxStreams ? m_streams[r.stream].shiftUs : 0;
        m_sink(r, r.stampUs - static_cast<uint64_t>(shift));
        return;
    }
    const SStream& s = m_streams[r.stream];
    const uint64_t time = r.stampUs - static_cast<uint64_t>(s.shiftUs);
    if (!m_bHasFront || IsInLine(s, time))
        Accept(r, time);
    else
        Suspect(held, copied);
}

bool CRecordingTimeLine::IsInLine(const SStream& s, uint64_t timeUs) const {
    return Near(timeUs, m_nFrontUs, kSlackUs) ||
           (s.started && Near(timeUs, s.ExpectedUs(), kSlackUs));
}

void CRecordingTimeLine::Accept(const SRecord& record, uint64_t timeUs) {
    SStream& s = m_streams[record.stream];
    if (!m_bHasZero) {
        // Nothing agreed on a zero before (only empty records came): the first time is it.
        m_nZeroUs = timeUs;
        m_bHasZero = true;
        m_zeroSink(timeUs);
    }
    if (!s.started) {
        s.started = true;
        s.firstUs = timeUs;
    }
    s.lastUs = timeUs;
    s.lastDurationUs = record.durationUs;
    if (!m_bHasFront || Diff(timeUs, m_nFrontUs) > 0)
        m_nFrontUs = timeUs;
    m_bHasFront = true;
    m_sink(record, timeUs);
}

void CRecordingTimeLine::Hold(SHeld& held, bool copied) {
    if (!copied && held.record.size > 0) {
        held.payload.assign(held.record.data, held.record.data + held.record.size);
        held.record.data = held.payload.data();
    }
    if (m_mode == Mode::Settling)
        m_nSettleBytes += held.record.size;
    else
        m_suspect.heldBytes += held.record.size;
    m_held.push_back(std::move(held));
}

void CRecordingTimeLine::Suspect(SHeld& held, bool copied) {
    const int stream = held.record.stream;
    const SStream& s = m_streams[stream];
    const uint64_t time = held.record.stampUs - static_cast<uint64_t>(s.shiftUs);
    m_mode = Mode::Holding;
    m_suspect = SSuspect();
    m_suspect.stream = stream;
    m_suspect.frontUs = m_suspect.newFrontUs = m_nFrontUs;
    m_suspect.offUs = Diff(time, s.started ? s.ExpectedUs() : m_nFrontUs);
    m_suspect.stepUs = m_suspect.offUs;
    m_suspect.stepFromAudio = stream % 2 == 1;
    for (int t = 0; t < kMaxStreams; ++t) {
        const SStream& other = m_streams[t];
        m_suspect.active[t] =
            t != stream && other.started && Diff(m_nFrontUs, other.lastUs) <= kActiveUs;
    }
    m_suspect.jumped[stream] = true;
    m_suspect.jumpAt[stream] = 0;
    Hold(held, copied);
}

void CRecordingTimeLine::Examine(const SHeld& held) {
    // Stream states stay as they were when the odd record came: each record is judged against
    // them, on the clock as it was.
    const int t = held.record.stream;
    const SStream& s = m_streams[t];
    SSuspect& q = m_suspect;
    const uint64_t time = held.record.stampUs - static_cast<uint64_t>(s.shiftUs);
    const int64_t off = Diff(time, s.started ? s.ExpectedUs() : q.frontUs);
    const bool inLine =
        Near(time, q.newFrontUs, kSlackUs) || (s.started && Near(time, s.ExpectedUs(), kSlackUs));
    const bool first = t == q.stream ? !q.sustained && !q.strayed : !q.jumped[t];
    if (first && Near(static_cast<uint64_t>(off), static_cast<uint64_t>(q.offUs), kSlackUs)) {
        if (t == q.stream) {
            q.sustained = true;
        } else {
            q.jumped[t] = true;
            q.jumpAt[t] = m_held.size() - 1;
            // Audio is stamped sample by sample: it tells the step most exactly.
            if (t % 2 == 1 && !q.stepFromAudio) {
                q.stepUs = off;
                q.stepFromAudio = true;
            }
        }
    } else if (inLine) {
        if (t == q.stream && first)
            q.strayed = true;
        if (Diff(time, q.newFrontUs) > 0)
            q.newFrontUs = time;
    }
}

bool CRecordingTimeLine::Decide(bool end) {
    const SSuspect& q = m_suspect;
    const bool due = end || m_held.size() > kMaxHeldRecords || q.heldBytes > kMaxHeldBytes ||
                     Diff(q.newFrontUs, q.frontUs) > 2 * kSlackUs;
    if (q.strayed) {
        Release(true);
        return true;
    }
    if (!q.sustained) {
        if (due)
            Release(true);
        return due;
    }
    bool all = true;
    for (int t = 0; t < kMaxStreams; ++t)
        all = all && (!q.active[t] || q.jumped[t]);
    if (!all && !due)
        return false;
    Release(false);
    return true;
}

void CRecordingTimeLine::Release(bool asStray) {
    const SSuspect q = m_suspect;
    SHeld& odd = m_held.front();
    SStream& s = m_streams[q.stream];
    const int channel = q.stream / 2;
    if (asStray) {
        // Placed where its stream was heading; its contents are kept.
        const uint64_t placed = s.started ? s.ExpectedUs() : q.frontUs;
        LogInfo("channel %d: a %s record stamped %.3f s off the recording's time line is placed "
                "in line",
                channel, KindOf(q.stream), Seconds(q.offUs));
        odd.record.stampUs = placed + static_cast<uint64_t>(s.shiftUs);
    } else {
        int jumped = 0;
        for (int t = 0; t < kMaxStreams; ++t)
            jumped += q.jumped[t] && (t == q.stream || q.active[t]) ? 1 : 0;
        const bool step =
            jumped > 1 || std::none_of(q.active.begin(), q.active.end(), [](bool a) { return a; });
        if (step) {
            LogInfo("the recording's clock stepped by %+.3f s at %.3f s; the time line goes on "
                    "without a break",
                    Seconds(q.stepUs), Seconds(Diff(q.frontUs, m_nZeroUs)));
            ++m_nSteps;
            for (int t = 0; t < kMaxStreams; ++t) {
                const int64_t shifted = m_streams[t].shiftUs + q.stepUs;
                if (q.jumped[t]) {
                    m_held[q.jumpAt[t]].hasNewShift = true;
                    m_held[q.jumpAt[t]].newShiftUs = shifted;
                } else if (!q.active[t]) {
                    m_streams[t].shiftUs = shifted; // it will come on the new clock
                }
            }
        } else {
            LogInfo("channel %d: %s stamps %+.3f s off the other streams are placed in line",
                    channel, KindOf(q.stream), Seconds(q.offUs));
            odd.hasNewShift = true;
            odd.newShiftUs = s.shiftUs + q.offUs;
        }
    }
    // Everything held is routed again in its order, now that the odd record has its place.
    m_mode = Mode::Running;
    m_suspect = SSuspect();
    while (!m_held.empty()) {
        m_input.push_front(std::move(m_held.back()));
        m_held.pop_back();
    }
}

bool CRecordingTimeLine::SettleDue() const {
    if (m_held.size() > kMaxHeldRecords || m_nSettleBytes > kMaxHeldBytes)
        return true;
    std::vector<uint64_t> stamps;
    for (const SHeld& h : m_held)
        if (h.record.size > 0)
            stamps.push_back(h.record.stampUs);
    if (stamps.empty())
        return false;
    auto middle = stamps.begin() + static_cast<std::ptrdiff_t>(stamps.size() / 2);
    std::nth_element(stamps.begin(), middle, stamps.end());
    const uint64_t median = *middle;
    uint64_t low = median, high = median;
    for (uint64_t stamp : stamps) {
        if (!Near(stamp, median, kSettleWindowUs))
            continue;
        if (Diff(stamp, low) < 0)
            low = stamp;
        if (Diff(stamp, high) > 0)
            high = stamp;
    }
    return Diff(high, low) > kSettleSpanUs;
}

void CRecordingTimeLine::Settle() {
    std::vector<uint64_t> stamps;
    for (const SHeld& h : m_held)
        if (h.record.size > 0)
            stamps.push_back(h.record.stampUs);
    m_mode = Mode::Running;
    if (!stamps.empty()) {
        auto middle = stamps.begin() + static_cast<std::ptrdiff_t>(stamps.size() / 2);
        std::nth_element(stamps.begin(), middle, stamps.end());
        const uint64_t median = *middle;
        bool found = false;
        std::vector<bool> inLine(m_held.size());
        for (size_t i = 0; i < m_held.size(); ++i) {
            const SRecord& r = m_held[i].record;
            inLine[i] = r.size > 0 && r.stream >= 0 && r.stream < kMaxStreams &&
                        Near(r.stampUs, median, kSettleWindowUs);
            if (inLine[i] && (!found || Diff(r.stampUs, m_nZeroUs) < 0))
                m_nZeroUs = r.stampUs;
            found = found || inLine[i];
        }
        int strays = 0;
        for (size_t i = 0; i < m_held.size(); ++i) {
            SRecord& r = m_held[i].record;
            if (inLine[i] || r.size <= 0 || r.stream < 0 || r.stream >= kMaxStreams)
                continue;
            // Placed beside the nearest record of its stream that agrees with the others.
            ++strays;
            r.stampUs = median;
            for (size_t k = i; k-- > 0;)
                if (inLine[k] && m_held[k].record.stream == r.stream) {
                    r.stampUs = m_held[k].record.stampUs +
                                static_cast<uint64_t>(m_held[k].record.durationUs);
                    break;
                }
            for (size_t k = i + 1; r.stampUs == median && k < m_held.size(); ++k)
                if (inLine[k] && m_held[k].record.stream == r.stream) {
                    r.stampUs = m_held[k].record.stampUs - static_cast<uint64_t>(r.durationUs);
                    break;
                }
            if (Diff(r.stampUs, m_nZeroUs) < 0)
                r.stampUs = m_nZeroUs;
        }
        if (strays > 0)
            LogInfo("%d record(s) at the start stamped far off the others are placed in line",
                    strays);
        m_bHasZero = true;
        m_zeroSink(m_nZeroUs);
    }
    m_nSettleBytes = 0;
    while (!m_held.empty()) {
        m_input.push_front(std::move(m_held.back()));
        m_held.pop_back();
    }
}
