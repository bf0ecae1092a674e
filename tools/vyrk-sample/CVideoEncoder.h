#pragma once

#include "FFmpegPtr.h"

#include <cstdint>
#include <string>
#include <vector>

// Encodes a moving synthetic picture, different per channel, to H.265 with libx265 (or H.264
// with libx264). Every access unit comes back as one Annex B byte string with parameter sets
// and SEI in band.
class CVideoEncoder {
public:
    struct Settings {
        int width = 320;
        int height = 240;
        int fps = 25;
        int keyInterval = 25;
        int64_t bitRate = 0; // 0: constant quality
        int noise = 0;       // amplitude of per-pixel noise, 0..127
        int threads = 1;
        std::string preset = "ultrafast";
        bool h264 = false;
        int bFrames = 0; // B-pictures between reference pictures (x265's pyramid)
        // When set, every picture is dark except these ones (indices), which are plain white.
        std::vector<int> flashPictures;
        // Index of the first picture encoded, in pictures from the recording's start: what it
        // shows and its pts, so a camera that starts late shows what the others show then.
        int firstPicture = 0;
    };

    CVideoEncoder(const Settings& settings, int channel);
    bool Open(std::string& error);
    // Encodes the given number of pictures from the first one on and returns their access units
    // in decode order.
    bool Encode(int pictures, std::vector<std::vector<uint8_t>>& units, std::string& error);
    // The same, and also returns the picture index (capture order, counted like firstPicture)
    // of every access unit.
    bool Encode(int pictures, std::vector<std::vector<uint8_t>>& units,
                std::vector<int64_t>& pictureIndices, std::string& error);

private:
    void Paint(AVFrame* frame, int index);
    void PaintLuma(AVFrame* frame, int index, bool dark);
    void PaintChroma(AVFrame* frame, uint8_t u, uint8_t v);
    bool IsFlash(int index) const;
    bool Drain(std::vector<std::vector<uint8_t>>& units, std::vector<int64_t>& pictureIndices,
               std::string& error);

    Settings m_settings;
    int m_nChannel;
    uint32_t m_nNoiseState;
    CodecContextPtr m_pContext;
    PacketPtr m_pPacket;
};
