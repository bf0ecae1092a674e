#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a written MP4 holds, read back with libavformat (no decoding, no probing).
struct Mp4Packet {
    int stream;
    int64_t pts;
    int64_t dts;
    int64_t duration;
    bool key;
    std::vector<uint8_t> data;
};

struct Mp4Stream {
    bool video;
    bool audio;
    int codecId;
    int width;
    int height;
    int sampleRate;
    int frameRateNum;
    int frameRateDen;
    int timeBaseNum;
    int timeBaseDen;
    std::vector<uint8_t> extradata;
};

struct Mp4Contents {
    bool opened = false;
    std::vector<Mp4Stream> streams;
    std::vector<Mp4Packet> packets; // of the audio and video streams
    int otherStreams = 0;           // such as a timecode track

    int VideoIndex() const;
    int AudioIndex() const;
    std::vector<Mp4Packet> PacketsOf(int stream) const;
    // The NAL units of every video packet, in order, each without its length prefix.
    std::vector<std::vector<uint8_t>> VideoNalUnits() const;
};

Mp4Contents ReadMp4(const std::string& path);

// The NAL units of an Annex B buffer, without start codes.
std::vector<std::vector<uint8_t>> AnnexBNalUnits(const std::vector<uint8_t>& bytes);

// The number of audio samples the file decodes to (ffprobe), -1 if it cannot be read.
long long DecodedAudioSamples(const std::string& path);
// What decoding the whole file with the ffmpeg command reports at error level ("" when clean).
std::string DecodeErrors(const std::string& path, const std::string& seekSeconds = "");
