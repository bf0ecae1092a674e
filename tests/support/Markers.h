#pragma once

#include <string>
#include <vector>

// The fields of each non-empty line of a program's comma-separated output; a non-zero exit
// status fails the current test.
std::vector<std::vector<std::string>> CsvLines(const std::vector<std::string>& argv);
// Presentation times of the bright pictures, as a player shows them (edit lists applied).
std::vector<double> FlashTimes(const std::string& mp4);
// Where loud audio starts after a quiet stretch, decoded the way a player follows time stamps;
// pcmPath is a scratch file.
std::vector<double> BurstOnsets(const std::string& mp4, const std::string& pcmPath);
// Pictures the file decodes to, as a player shows them (edit lists applied).
int DecodedPictureCount(const std::string& mp4);
// The RMS level of the first `samples` decoded audio samples, edit lists applied; pcmPath is a
// scratch file.
double LeadingAudioLevel(const std::string& mp4, const std::string& pcmPath, int samples);
