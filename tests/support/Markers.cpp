#include "Markers.h"

#include "Subprocess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

std::vector<std::vector<std::string>> CsvLines(const std::vector<std::string>& argv) {
    const SubprocessResult r = RunProgram(argv);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string field; std::getline(f, field, ',');)
            fields.push_back(field);
        if (!fields.empty() && !fields[0].empty())
            lines.push_back(fields);
    }
    return lines;
}

std::vector<double> FlashTimes(const std::string& mp4) {
    std::vector<double> times;
    for (const auto& f :
         CsvLines({"/usr/bin/ffprobe", "-v", "error", "-f", "lavfi", "-i",
                   "movie=" + mp4 + ",signalstats", "-show_entries",
                   "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"}))
        if (f.size() >= 2 && std::stod(f[1]) > 128)
            times.push_back(std::stod(f[0]));
    return times;
}

std::vector<double> BurstOnsets(const std::string& mp4, const std::string& pcmPath) {
    const SubprocessResult r = RunProgram(
        {"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-y", "-i", mp4, "-map", "0:a", "-af",
         "aresample=async=1:first_pts=0", "-f", "s16le", "-ac", "1", "-ar", "44100", pcmPath});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string pcm = ReadWholeFile(pcmPath);
    std::vector<double> onsets;
    long quiet = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const int16_t v = static_cast<int16_t>(static_cast<uint8_t>(pcm[i]) |
                                               (static_cast<uint8_t>(pcm[i + 1]) << 8));
        if (std::abs(v) > 4000) {
            if (quiet > 2000)
                onsets.push_back(static_cast<double>(i / 2) / 44100.0);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return onsets;
}


int DecodedPictureCount(const std::string& mp4) {
    return static_cast<int>(CsvLines({"/usr/bin/ffprobe", "-v", "error", "-f", "lavfi", "-i",
                                       "movie=" + mp4, "-show_entries", "frame=pts_time", "-of",
                                       "csv=p=0"})
                                .size());
}

double LeadingAudioLevel(const std::string& mp4, const std::string& pcmPath, int samples) {
    const SubprocessResult r =
        RunProgram({"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-y", "-i", mp4, "-map", "0:a",
                    "-f", "s16le", "-ac", "1", "-ar", "44100", pcmPath});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string pcm = ReadWholeFile(pcmPath);
    double sum = 0;
    int n = 0;
    for (size_t i = 0; i + 1 < pcm.size() && n < samples; i += 2, ++n) {
        const int16_t v = static_cast<int16_t>(static_cast<uint8_t>(pcm[i]) |
                                               (static_cast<uint8_t>(pcm[i + 1]) << 8));
        sum += static_cast<double>(v) * v;
    }
    return n > 0 ? std::sqrt(sum / n) : 0;
}
