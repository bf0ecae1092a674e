#include "CRecordingTimeLine.h"

#include "ClockMath.h"
#include "Log.h"

#include <algorithm>

namespace {

// How far a record may be from the front, or from where its stream was heading, and still be in
// line: records of different streams come roughly, not strictly, in the order of time, and a
// camera's pictures may be stamped out of their decode order.
const int64_t kSlackUs = 1000000;
// A stream counts as running when its latest record is this close to the front.
const int64_t kActiveUs = 3000000;
// However unclear the records stay, a decision is taken after this much.
const size_t kMaxHeldRecords = 8192;
const int64_t kMaxHeldBytes = 64 << 20;

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
    if (m_mode == Mode::Running)
        HandOnCollected();
}

void CRecordingTimeLine::Finish() {
    if (m_mode == Mode::Settling)
        Settle();
    Pump();
    while (m_mode == Mode::Holding) {
        Decide(true);
        Pump();
    }
    HandOnCollected();
}

void CRecordingTimeLine::HandOnCollected() {
    if (!m_bCollecting)
        return;
    // The zero is the earliest time handed on, whatever the order the records came in.
    m_bCollecting = false;
    for (const SCollected& c : m_collected)
        if (c.held.record.size > 0 && (!m_bHasZero || ClockDiff(c.timeUs, m_nZeroUs) < 0)) {
            m_nZeroUs = c.timeUs;
            m_bHasZero = true;
        }
    if (m_bHasZero)
        m_zeroSink(m_nZeroUs);
    for (const SCollected& c : m_collected)
        m_sink(c.held.record, c.timeUs);
    m_collected.clear();
}

bool CRecordingTimeLine::StreamStart(int stream, int64_t& sinceZeroUs) const {
    if (stream < 0 || stream >= kMaxStreams || !m_bHasZero || !m_streams[stream].started)
        return false;
    sinceZeroUs = ClockDiff(m_streams[stream].firstUs, m_nZeroUs);
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
        Deliver(held, copied, r.stampUs - static_cast<uint64_t>(shift));
        return;
    }
    const SStream& s = m_streams[r.stream];
    const uint64_t time = r.stampUs - static_cast<uint64_t>(s.shiftUs);
    const bool placeDirectly = m_nPlaceInLine > 0;
    if (placeDirectly)
        --m_nPlaceInLine;
    if (!m_bHasFront || IsInLine(s, time))
        Accept(held, copied, time);
    else if (placeDirectly) // after records that told nothing: no more holding for these
        Accept(held, copied, s.started ? s.ExpectedUs() : m_nFrontUs);
    else
        Suspect(held, copied);
}

bool CRecordingTimeLine::IsInLine(const SStream& s, uint64_t timeUs) const {
    return ClockNear(timeUs, m_nFrontUs, kSlackUs) ||
           (s.started && ClockNear(timeUs, s.ExpectedUs(), kSlackUs));
}

void CRecordingTimeLine::Accept(SHeld& held, bool copied, uint64_t timeUs) {
    const SRecord& record = held.record;
    SStream& s = m_streams[record.stream];
    if (!s.started) {
        s.started = true;
        s.firstUs = timeUs;
    }
    s.lastUs = timeUs;
    s.lastDurationUs = record.durationUs;
    if (!m_bHasFront || ClockDiff(timeUs, m_nFrontUs) > 0)
        m_nFrontUs = timeUs;
    m_bHasFront = true;
    Deliver(held, copied, timeUs);
}

void CRecordingTimeLine::Deliver(SHeld& held, bool copied, uint64_t timeUs) {
    if (m_bCollecting) {
        if (!copied && held.record.size > 0) {
            held.payload.assign(held.record.data, held.record.data + held.record.size);
            held.record.data = held.payload.data();
        }
        m_collected.push_back({std::move(held), timeUs});
        return;
    }
    if (!m_bHasZero && held.record.size > 0) {
        // Nothing agreed on a zero before (only empty records came): the first time is it.
        m_nZeroUs = timeUs;
        m_bHasZero = true;
        m_zeroSink(timeUs);
    }
    m_sink(held.record, timeUs);
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
    m_suspect.offUs = ClockDiff(time, s.started ? s.ExpectedUs() : m_nFrontUs);
    m_suspect.stepUs = m_suspect.offUs;
    m_suspect.stepFromAudio = stream % 2 == 1;
    for (int t = 0; t < kMaxStreams; ++t) {
        const SStream& other = m_streams[t];
        m_suspect.active[t] =
            t != stream && other.started && ClockDiff(m_nFrontUs, other.lastUs) <= kActiveUs;
    }
    m_suspect.jumped[stream] = true;
    m_suspect.jumpAt[stream] = 0;
    for (int t = 0; t < kMaxStreams; ++t)
        m_suspect.shiftsUs[t] = m_streams[t].shiftUs;
    Hold(held, copied);
}

void CRecordingTimeLine::Examine(const SHeld& held) {
    // Stream states stay as they were when the odd record came: each record is judged against
    // them, on the clock as it was.
    const int t = held.record.stream;
    const SStream& s = m_streams[t];
    SSuspect& q = m_suspect;
    const uint64_t time = held.record.stampUs - static_cast<uint64_t>(s.shiftUs);
    const int64_t off = ClockDiff(time, s.started ? s.ExpectedUs() : q.frontUs);
    const bool inLine = ClockNear(time, q.newFrontUs, kSlackUs) ||
                        (s.started && ClockNear(time, s.ExpectedUs(), kSlackUs));
    const bool first = t == q.stream ? !q.sustained && !q.strayed : !q.jumped[t];
    if (first && ClockNear(static_cast<uint64_t>(off), static_cast<uint64_t>(q.offUs), kSlackUs)) {
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
        if (ClockDiff(time, q.newFrontUs) > 0)
            q.newFrontUs = time;
    }
}

bool CRecordingTimeLine::Decide(bool end) {
    const SSuspect& q = m_suspect;
    const bool due = end || m_held.size() > kMaxHeldRecords || q.heldBytes > kMaxHeldBytes ||
                     ClockDiff(q.newFrontUs, q.frontUs) > 2 * kSlackUs;
    if (q.strayed) {
        Release(true);
        return true;
    }
    if (!q.sustained) {
        if (!due)
            return false;
        const bool capped = !end && ClockDiff(q.newFrontUs, q.frontUs) <= 2 * kSlackUs;
        Release(true);
        if (capped) {
            // Nothing held agreed with anything: the records are placed as they come instead of
            // being held again, one decision for each.
            LogInfo("%zu records far off the recording's time line are placed where their "
                    "streams were heading",
                    m_input.size());
            m_nPlaceInLine = m_input.size();
        }
        return true;
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
    // Records held meanwhile may have moved stream clocks; they do so again when routed anew.
    for (int t = 0; t < kMaxStreams; ++t)
        m_streams[t].shiftUs = q.shiftsUs[t];
    SHeld& odd = m_held.front();
    const SStream& s = m_streams[q.stream];
    const int channel = q.stream / 2;
    if (asStray) {
        // Placed where its stream was heading; its contents are kept.
        const uint64_t placed = s.started ? s.ExpectedUs() : q.frontUs;
        LogInfo("channel %d: a %s record stamped %.3f s off the recording's time line is placed "
                "in line",
                channel, KindOf(q.stream), Seconds(q.offUs));
        odd.record.stampUs = placed + static_cast<uint64_t>(s.shiftUs);
    } else if (IsClockStep(q)) {
        LogInfo("the recording's clock stepped by %+.3f s after %.3f s; the time line goes on "
                "without a break",
                Seconds(q.stepUs), Seconds(ClockDiff(q.frontUs, m_nZeroUs)));
        ++m_nSteps;
        for (int t = 0; t < kMaxStreams; ++t) {
            const int64_t shifted = ClockPlus(m_streams[t].shiftUs, q.stepUs);
            if (q.jumped[t]) {
                m_held[q.jumpAt[t]].hasNewShift = true;
                m_held[q.jumpAt[t]].newShiftUs = shifted;
            } else if (!q.active[t]) {
                m_streams[t].shiftUs = shifted; // it will come on the new clock
            }
        }
    } else {
        LogInfo("channel %d: %s stamps %+.3f s off the other channels are placed in line", channel,
                KindOf(q.stream), Seconds(q.offUs));
        for (int t = 0; t < kMaxStreams; ++t)
            if (q.jumped[t]) {
                m_held[q.jumpAt[t]].hasNewShift = true;
                m_held[q.jumpAt[t]].newShiftUs =
                    ClockPlus(m_streams[t].shiftUs, t == q.stream ? q.offUs : q.stepUs);
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

bool CRecordingTimeLine::IsClockStep(const SSuspect& q) const {
    // The whole rig's clock: every running stream jumped, or streams of more than one channel
    // did. One camera alone jumping while the others run on is that camera's own.
    bool all = true;
    bool anyActive = false;
    for (int t = 0; t < kMaxStreams; ++t) {
        all = all && (!q.active[t] || q.jumped[t]);
        anyActive = anyActive || q.active[t];
    }
    int channels = 0;
    for (int ch = 0; ch < kMaxStreams / 2; ++ch)
        channels += q.jumped[2 * ch] || q.jumped[2 * ch + 1] ? 1 : 0;
    return !anyActive || all || channels > 1;
}

std::vector<CStartWindow::SStamp> CRecordingTimeLine::HeldStamps() const {
    std::vector<CStartWindow::SStamp> stamps;
    stamps.reserve(m_held.size());
    for (const SHeld& h : m_held)
        stamps.push_back(
            {h.record.stream, h.record.stampUs, h.record.durationUs,
             h.record.size > 0 && h.record.stream >= 0 && h.record.stream < kMaxStreams});
    return stamps;
}

bool CRecordingTimeLine::SettleDue() const {
    return m_held.size() > kMaxHeldRecords || m_nSettleBytes > kMaxHeldBytes ||
           CStartWindow::IsSettled(HeldStamps());
}

void CRecordingTimeLine::Settle() {
    std::vector<CStartWindow::SStamp> stamps = HeldStamps();
    if (const int strays = CStartWindow::PlaceStrays(stamps))
        LogInfo("%d record(s) at the start stamped far off the others are placed in line", strays);
    for (size_t i = 0; i < stamps.size(); ++i)
        m_held[i].record.stampUs = stamps[i].stampUs;
    // The zero follows from what is handed on, once the records are routed again.
    m_bCollecting = true;
    m_mode = Mode::Running;
    m_nSettleBytes = 0;
    while (!m_held.empty()) {
        m_input.push_front(std::move(m_held.back()));
        m_held.pop_back();
    }
}
