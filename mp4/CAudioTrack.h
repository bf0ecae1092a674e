#pragma once

#include "CAacEncoder.h"
#include "CAudioClock.h"
#include "CMoovPatch.h"
#include "SFFData.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <deque>
#include <memory>

class COutputFile;
class CRecordingClock;

// The audio of one file: 16-bit mono PCM records, placed on the file's time line by CAudioClock
// and encoded to AAC by CAacEncoder. Until the record clock's zero is set, the records are held
// (the file may not even be open yet); the earliest of them may move that zero back. Audio that
// starts after the file does is shown from its first recorded sample, never from the encoder's
// priming samples.
class CAudioTrack {
public:
    static constexpr int kSampleRate = CAacEncoder::kSampleRate;
    // Audio that arrives before the first picture is held, up to this many samples.
    static constexpr int64_t kMaxHeldSamples = 10 * kSampleRate;

    CAudioTrack(COutputFile& file, const CRecordingClock& clock);
    CAudioTrack(const CAudioTrack&) = delete;
    CAudioTrack& operator=(const CAudioTrack&) = delete;

    static void MakeAudioSpecificConfig(unsigned samplingIndex, unsigned channelConfig,
                                        uint8_t* out);

    // Opens the encoder and adds the audio stream to the file; false when either fails, with the
    // failure recorded.
    bool AddStream();
    // A record: held until the clock has its zero and Start was called, encoded after that.
    void Add(const FramePtr& record);
    bool IsHolding() const { return !m_held.empty(); }
    // The file's zero the held audio asks for, given the first picture's record time
    // (UINT64_MAX: a file without pictures).
    uint64_t ZeroFor(uint64_t firstPictureUs) const;
    // Once the clock has its zero: encodes the held records that are not before it.
    void Start(uint64_t firstPictureUs);
    // Encodes what the encoder still holds. An encoding failure fails the file (Encode).
    void Flush();
    // Where the track's presentation starts and ends; false when the writer's own edit stands.
    bool GetEdit(CMoovPatch::SEdit& edit) const;
    void Close() { m_encoder.Close(); }
    // Says how much held audio was dropped, then frees everything.
    void Release();

private:
    void Hold(const FramePtr& record);
    void Encode(const SFFData& record);
    void FailEncoding(int rc);
    void WritePacket(AVPacket* packet);

    COutputFile& m_file;
    const CRecordingClock& m_clock;
    AVStream* m_pStream = nullptr; // owned by the file's context
    CAacEncoder m_encoder;
    CAacEncoder::PacketSink m_sink;
    std::unique_ptr<CAudioClock> m_pAudioClock;
    std::deque<FramePtr> m_held; // audio before the first picture
    int64_t m_nHeldSamples = 0;
    int64_t m_nDroppedHeldSamples = 0;
    int64_t m_nLastDts; // stream time base
    bool m_bStarted = false;
    int64_t m_nShownStart = 0; // position of the first recorded sample, when it has one of its own
};
