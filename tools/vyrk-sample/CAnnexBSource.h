#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits an H.265 Annex B file into access units with FFmpeg's parser, each kept as the exact
// bytes of the file (start codes included).
class CAnnexBSource {
public:
    static bool Load(const std::string& path, std::vector<std::vector<uint8_t>>& units,
                     std::string& error);
};
