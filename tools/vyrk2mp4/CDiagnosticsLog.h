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
    // then says why, and the log has failed). Returns the report stream, or null when standard
    // output cannot be kept.
    FILE* Open(const std::string& path, std::string& problem);
    // Writes the run's first line and checks that the log takes it: "", or why not (from then
    // on diagnostics go to standard error).
    std::string Begin(const std::string& line);
    // Writes the run's last line: "" when the log took every line, or else why not.
    std::string Finish(const std::string& line);
    // The log file could not be opened or written to: diagnostics were lost.
    bool HasFailed() const { return m_failed; }
    // The log file in use; empty when diagnostics go to standard error.
    const std::string& Path() const { return m_path; }

private:
    // Writes a line and returns the errno of a failed write of this line or an earlier one
    // (EIO when it is not known), or 0.
    int WriteLine(const std::string& line);
    std::string Problem(int error) const;

    std::string m_path;
    bool m_failed = false;
};
