#pragma once

#include "CFileLoader.h"
#include "CMP4.h"
#include "CPictureLossWatch.h"
#include "CRecordingClock.h"
#include "CRecordingTimeLine.h"
#include "ILoaderCallback.h"
#include "SConversionProgress.h"
#include "SOutputOptions.h"
#include "SOutputStats.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Converts one recording into one MP4 file per channel (at most 8): reads it with a
// CFileLoader and routes every record to the muxer of its channel, on the recording's one time
// line (CRecordingTimeLine), so the channels' files line up with each other.
class CVyrkConverter : public ILoaderCallback {
public:
    // When and where the recording starts, known once the conversion has finished.
    struct SRecordingStart {
        bool known = false;      // the recording had a record to start from
        bool wallClock = false;  // its clock counts microseconds since 1970
        uint64_t zeroUs = 0;     // the record time that is every file's zero
        SRecordingOrigin origin; // timecode and, with a wall clock, UTC time of the zero
        int clockSteps = 0;      // steps of the record clock taken out
        // Each channel's first record after the zero; -1 for a channel without records.
        std::array<int64_t, 8> channelStartUs{};
    };

    static constexpr int kMaxChannels = 8;
    static constexpr size_t kFileNameBufferSize = 260;

    // What was left out of a recording because it was damaged, known once it has finished.
    struct SDamage {
        int64_t bytes = 0;        // bytes of the recording skipped as damaged
        int places = 0;           // in how many places
        int64_t firstOffset = -1; // file offset of the first
        int64_t spanUs = 0;       // the recording time they covered, as far as it is known
        int64_t pictures = 0;     // pictures left out that damage made undecodable (lost references
                                  // or parameter sets)
        bool Any() const { return bytes > 0 || places > 0 || pictures > 0; }
    };

    // What became of one channel's output, known once the conversion has finished. Kept: a stop
    // came before the channel's file was complete, and the complete file of an earlier
    // conversion under its name was kept instead.
    enum class ChannelResult { None, Written, Failed, Kept };
    // What became of the whole recording. Converted: at least one file written, none failed,
    // read to its end. Damaged: as Converted, but parts of the recording were damaged and left
    // out (GetDamageText says what). Stopped: Stop ended it early and nothing failed.
    enum class State { Converting, Converted, Stopped, Failed, Damaged };
    enum class Failure {
        None,
        CannotOpen,    // the recording could not be opened (GetFailureError: errno)
        NotARecording, // no known format
        ReadError,     // reading failed part of the way (GetFailureError: errno)
        NoVideo,       // no channel held pictures to make a file from
        ChannelFailed, // a channel's file could not be written (see its stats)
        NotAFile,      // the path names a folder, a FIFO, a device or a socket
                       // (GetFailureError: the CFileLoader::FileKind)
        NoChannels,    // the recording's header declares no channels
        DamagedHeader, // the recording's header is impossible (a picture size of 0)
        Aborted,       // the conversion was cut short, such as by running out of memory;
                       // begun files were given up (GetFailureError: errno, ENOMEM)
    };

    CVyrkConverter();
    CVyrkConverter(const CVyrkConverter&) = delete;
    CVyrkConverter& operator=(const CVyrkConverter&) = delete;

    // Applies to the muxers Init creates.
    void SetOutputOptions(const SOutputOptions& options) { m_options = options; }
    // What all channels may hold queued before the reader pauses (CFileLoader::SetQueueBudget);
    // before Init.
    void SetQueueBudget(int64_t highWaterBytes) { m_nQueueBudget = highWaterBytes; }
    // Opens the recording and one muxer per channel. On failure the operator has been told.
    bool Init(std::string path, std::string prefix);
    bool Start();
    // Ends a running conversion early; every file already begun is still finished.
    void Stop();
    bool IsFinished() const;

    int32_t OnData(const uint8_t* header, const uint8_t* payload) override;
    void OnEnd(int32_t status, int32_t a, int32_t b) override;
    bool IsIdle() override;
    int64_t GetPendingBytes() override;
    virtual ~CVyrkConverter();

    // Callable from any thread once Init has returned; takes no lock.
    SConversionProgress GetProgress() const;

    // Valid once IsFinished is true (or Init failed).
    State GetState() const;
    Failure GetFailure() const;
    int GetFailureError() const;
    // What was left out as damaged; nothing unless the state is Damaged (or a failure or stop
    // came after damage).
    SDamage GetDamage() const;
    // With State::Damaged: what was left out, in plain English; empty otherwise.
    std::string GetDamageText() const;
    ChannelResult GetChannelResult(int channel) const;
    SRecordingStart GetRecordingStart() const { return m_start; }
    // The channels whose files were written, in order.
    std::vector<int> GetWrittenChannels() const;
    // The channel's counters and failure; null for a channel without a muxer.
    std::shared_ptr<const SOutputStats> GetChannelStats(int channel) const;
    int GetChannelSlots() const;
    const std::string& GetFileName(int channel) const {
        return m_strFile[static_cast<size_t>(channel)];
    }

private:
    Failure CheckRecording() const;
    bool CreateChannel(int32_t index);
    bool EndedEarly() const;
    void CloseChannels(bool endedEarly);
    void NoteDamage();
    void Deliver(const CRecordingTimeLine::SRecord& record, uint64_t timeUs);
    void SetZero(uint64_t zeroUs);
    void NoteStart();
    int ChannelSlots() const;
    // Bytes handed to all muxers together and not yet written.
    int64_t PendingBytes() const;
    int64_t m_nQueueBudget = CFileLoader::kHighWaterBytes;
    std::shared_ptr<CQueueBudget> m_pBudget;

    std::string m_strPrefix;
    std::string m_strRecordingName; // the recording's file name, named in every file's tags
    CFileLoader* m_pLoader;
    std::array<std::string, kMaxChannels> m_strFile;
    std::array<std::shared_ptr<CMP4>, kMaxChannels> m_pMP4;
    std::array<ChannelResult, kMaxChannels> m_results;
    // Taken from the muxers when they are created; they outlive the muxers.
    std::array<std::shared_ptr<const SOutputStats>, kMaxChannels> m_stats;
    SOutputOptions m_options;
    std::shared_ptr<CRecordingClock> m_pClock;
    std::unique_ptr<CRecordingTimeLine> m_pTimeLine;
    SRecordingStart m_start;
    int64_t m_nFrameUs = 33333;
    bool m_bOpened = false;
    int m_nOpenError = 0;
    std::atomic<bool> m_bStopRequested{false};
    Failure m_initFailure = Failure::None;
    bool m_bOutOfMemory = false; // reader thread, read once finished
    bool Aborted() const;
    SDamage m_damage;              // set when the reader ends
    CPictureLossWatch m_lossWatch; // reader thread
};
