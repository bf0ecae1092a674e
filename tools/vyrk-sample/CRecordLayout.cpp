#include "CRecordLayout.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

int64_t VideoTimeUs(int64_t picture, int fps) {
    return std::llround(static_cast<double>(picture) * 1e6 / fps);
}

// The picture shown by the channel's access unit at the given index in decode order (past its
// records when they repeat).
int64_t CapturedPicture(const SChannelVideo& video, int64_t index) {
    if (video.pictures.empty())
        return video.firstPosition + index;
    const auto count = static_cast<int64_t>(video.pictures.size());
    return index / count * count + video.pictures[static_cast<size_t>(index % count)];
}

// The first picture the channel shows; with B-pictures that of a cut channel need not be that of
// its first access unit.
int64_t EarliestPicture(const SChannelVideo& video) {
    if (video.pictures.empty())
        return video.firstPosition;
    return *std::min_element(video.pictures.begin(), video.pictures.end());
}

// Junk that must never reach a muxer: looks like a slice so it would damage a stream.
const std::vector<uint8_t>& Junk() {
    static const std::vector<uint8_t> junk = {0, 0, 0, 1,    0x02, 0x01, 0xAA, 0x55, 0xAA, 0x55,
                                              0, 0, 1, 0x26, 0x01, 0x13, 0x37, 0x00, 0x42};
    return junk;
}

const std::vector<uint8_t>& Empty() {
    static const std::vector<uint8_t> empty;
    return empty;
}

} // namespace

CRecordLayout::CRecordLayout(const SSampleOptions& options)
    : m_options(options), m_audio(options) {}

std::vector<SRecordItem> CRecordLayout::Build(const std::vector<SChannelVideo>& video) {
    for (int ch = 0; ch < m_options.channels; ++ch) {
        AddVideo(ch, video[static_cast<size_t>(ch)]);
        if (m_options.audio)
            AddAudio(ch, video[static_cast<size_t>(ch)]);
    }
    std::sort(m_items.begin(), m_items.end(), [](const SRecordItem& a, const SRecordItem& b) {
        return a.writeUs != b.writeUs ? a.writeUs < b.writeUs : a.order < b.order;
    });
    return std::move(m_items);
}

// The stamp written for a time relative to the first picture; never below 0.
uint64_t CRecordLayout::Stamp(int64_t us) const {
    if (us < 0 && static_cast<uint64_t>(-us) > m_options.clockBaseUs)
        return 0;
    return m_options.clockBaseUs + static_cast<uint64_t>(us);
}

// How much later than the given time, the moment a record's stamp stands for, the stepped clock
// stamps it: the sum of the steps taken up to that moment.
int64_t CRecordLayout::StepUs(int64_t us) const {
    int64_t step = 0;
    for (const auto& clockStep : m_options.clockStepsUs)
        if (us >= clockStep.first)
            step += clockStep.second;
    return step;
}

// How many access units the channel writes: its file's, or one per picture from its first on.
int64_t CRecordLayout::PicturesOf(int channel, const SChannelVideo& video) const {
    return m_options.hevcInputs.count(channel) > 0
               ? static_cast<int64_t>(video.records.size())
               : m_options.TotalPictures() - video.firstPosition;
}

// Sample 0 is at the audio start (--audio-offset); a channel that starts late or is cut starts
// its sound where it was told to, or else with the first picture it shows.
int64_t CRecordLayout::FirstAudioSample(int channel, const SChannelVideo& video) const {
    const auto stated = m_options.audioStartSeconds.find(channel);
    if (stated != m_options.audioStartSeconds.end())
        return m_audio.SampleAt(stated->second);
    if (m_options.startPictures.count(channel) == 0 && m_options.cutsBeforeIrap.count(channel) == 0)
        return 0;
    return m_audio.SampleAt(static_cast<double>(EarliestPicture(video)) / m_options.video.fps);
}

// Video records stay in decode order: they are written at the time of their position in it,
// whatever they are stamped with. A clock step goes by the time the stamp stands for: the
// position's, or with --stamps capture the picture's own.
void CRecordLayout::AddVideo(int channel, const SChannelVideo& video) {
    const int64_t units = PicturesOf(channel, video);
    const int fps = m_options.video.fps;
    for (int64_t k = 0; k < units; ++k) {
        const Units& payloads = video.records[static_cast<size_t>(k) % video.records.size()];
        const int64_t position = video.firstPosition + k;
        const int64_t writeUs = VideoTimeUs(position, fps);
        const int64_t us =
            m_options.captureStamps ? VideoTimeUs(CapturedPicture(video, k), fps) : writeUs;
        const uint64_t t = Stamp(us + StepUs(us));
        const auto ch = static_cast<uint8_t>(channel);
        for (const std::vector<uint8_t>& payload : payloads)
            m_items.push_back({writeUs, t, m_nOrder++, ch, 0, 0, &payload, 0, channel});
        // A copy, as m_items grows meanwhile.
        const SRecordItem first = m_items[m_items.size() - payloads.size()];
        AddInjections(position, first);
    }
}

// Audio records go from the channel's audio start to the end of the video (at least --seconds),
// written in sample order at their true times; gaps leave records out and jitter only moves
// stamps.
void CRecordLayout::AddAudio(int channel, const SChannelVideo& video) {
    const int64_t videoEnd = video.firstPosition + PicturesOf(channel, video);
    const double end =
        std::max(m_options.seconds, static_cast<double>(videoEnd) / m_options.video.fps);
    const int64_t first = FirstAudioSample(channel, video);
    const int64_t blocks = m_audio.BlocksUntil(first, end);
    for (int64_t b = 0; b < blocks; ++b) {
        const int64_t sample = first + b * m_options.audioSamples;
        const int64_t us = m_audio.TimeUs(sample);
        if (m_audio.InGap(us))
            continue;
        const uint64_t t = Stamp(us + StepUs(us) + m_audio.JitterUs(channel, b));
        m_items.push_back(
            {us, t, m_nOrder++, static_cast<uint8_t>(channel), 2, 0, nullptr, sample, channel});
    }
}

// Adds the injected records next to the first video record of the given picture.
void CRecordLayout::AddInjections(int64_t picture, const SRecordItem& video) {
    if (picture % 10 != 5)
        return;
    const int channel = video.channel;
    if (m_options.otherTypes) {
        static const uint8_t kTypes[] = {1, 3, 255};
        AddLike(video, channel, kTypes[(picture / 10) % 3], 0, &Junk());
    }
    if (m_options.subType1)
        AddLike(video, channel, 0, 1, &Junk());
    if (m_options.emptyPayloads) {
        AddLike(video, channel, 0, 0, &Empty());
        AddLike(video, channel, 2, 0, &Empty());
    }
    if (m_options.foreignChannels && channel == 0)
        AddForeign(video);
}

// Channel 0's video again on channels that have no output, which the reader has to pass over.
void CRecordLayout::AddForeign(const SRecordItem& video) {
    const int count = m_options.HeaderChannels();
    for (int foreign : {count, count + 1, 8, 255})
        if (foreign >= m_options.channels && foreign < 256)
            AddLike(video, foreign, 0, 0, video.payload);
}

void CRecordLayout::AddLike(const SRecordItem& video, int channel, uint8_t type, uint8_t subType,
                            const std::vector<uint8_t>* payload) {
    SRecordItem item = video;
    item.order = m_nOrder++;
    item.channel = static_cast<uint8_t>(channel);
    item.type = type;
    item.subType = subType;
    item.payload = payload;
    m_items.push_back(item);
}
