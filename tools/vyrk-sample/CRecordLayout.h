#pragma once

#include "CSampleAudio.h"
#include "SChannelVideo.h"
#include "SRecordItem.h"
#include "SSampleOptions.h"

#include <cstdint>
#include <vector>

// Which records the sample holds, how each is stamped and in what order they are written: per
// channel its video records and its audio records, the injected damage beside the video, all
// merged by the time they are written at.
class CRecordLayout {
public:
    explicit CRecordLayout(const SSampleOptions& options);
    // The records in write order; they point into video, which must outlive them.
    std::vector<SRecordItem> Build(const std::vector<SChannelVideo>& video);

private:
    void AddVideo(int channel, const SChannelVideo& video);
    void AddAudio(int channel, const SChannelVideo& video);
    void AddInjections(int64_t picture, const SRecordItem& video);
    void AddForeign(const SRecordItem& video);
    void AddLike(const SRecordItem& video, int channel, uint8_t type, uint8_t subType,
                 const std::vector<uint8_t>* payload);
    int64_t PicturesOf(int channel, const SChannelVideo& video) const;
    int64_t FirstAudioSample(int channel, const SChannelVideo& video) const;
    uint64_t Stamp(int64_t us) const;
    int64_t StepUs(int64_t us) const;

    const SSampleOptions& m_options;
    CSampleAudio m_audio;
    std::vector<SRecordItem> m_items;
    int m_nOrder = 0;
};
