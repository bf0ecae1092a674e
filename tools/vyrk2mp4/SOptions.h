#pragma once

#include <string>
#include <vector>

// What the command line asked for.
struct SOptions {
    std::string outputDir; // empty: beside each recording
    std::string logPath;   // empty: the default log file
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    bool faststart = false;
    bool hvc1 = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> inputs;
};

// Parses argv in the usual way: short and long options, "-oDIR", "--output=DIR", "--" to end
// the options. On a usage error returns false with a one-line message in `error`.
bool ParseOptions(int argc, char** argv, SOptions& options, std::string& error);

extern const char* const kUsage;
