#pragma once

#include "CFileLoader.h"
#include "CMP4.h"
#include "ILoaderCallback.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// Converts one recording into one MP4 file per channel (at most 8): reads it with a
// CFileLoader and routes every record to the muxer of its channel.
class CVyrkConverter : public ILoaderCallback {
public:
    static constexpr int kMaxChannels = 8;
    static constexpr size_t kFileNameBufferSize = 260;

    // What became of one channel's output, known once the conversion has finished.
    enum class ChannelResult { None, Written, Failed };

    CVyrkConverter();
    CVyrkConverter(const CVyrkConverter&) = delete;
    CVyrkConverter& operator=(const CVyrkConverter&) = delete;

    // Opens the recording and one muxer per channel. On failure the operator has been told.
    bool Init(std::string path, std::string prefix);
    bool Start();
    // Ends a running conversion early; every file already begun is still finished.
    void Stop();
    bool IsFinished() const;

    int32_t OnData(const uint8_t* header, const uint8_t* payload) override;
    void OnEnd(int32_t status, int32_t a, int32_t b) override;
    bool IsIdle() override;
    virtual ~CVyrkConverter();

    // Valid once IsFinished is true.
    ChannelResult GetChannelResult(int channel) const;
    int GetChannelSlots() const;
    const std::string& GetFileName(int channel) const {
        return m_strFile[static_cast<size_t>(channel)];
    }

private:
    bool CreateChannel(int32_t index);
    int ChannelSlots() const;

    std::string m_strPrefix;
    CFileLoader* m_pLoader;
    std::array<std::string, kMaxChannels> m_strFile;
    std::array<std::shared_ptr<CMP4>, kMaxChannels> m_pMP4;
    std::array<ChannelResult, kMaxChannels> m_results;
};
