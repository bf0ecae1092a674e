#pragma once

#include <cstdio>
#include <string>

// Keeps the engine's and FFmpeg's diagnostics out of the report. The engine prints them on
// standard output; this moves standard output to the log (a file, or standard error) and hands
// back a stream on the original standard output for the report alone.
class CDiagnosticsLog {
public:
    static constexpr long kRotateBytes = 8L * 1024 * 1024;

    // The log file used when none is named: $XDG_STATE_HOME/vyrk2mp4/vyrk2mp4.log, or under
    // ~/.local/state when that is not set.
    static std::string DefaultPath();

    // Sends diagnostics to `path` (appended; an existing file over kRotateBytes is moved to
    // PATH.1 first), or to standard error when `path` is empty or cannot be opened (`problem`
    // then says why). Returns the report stream, or null when standard output cannot be kept.
    FILE* Open(const std::string& path, std::string& problem);
    // The log file in use; empty when diagnostics go to standard error.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
