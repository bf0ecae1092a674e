#pragma once

#include <string>
#include <vector>

// Runs a program and collects what it printed on standard output (and standard error, merged)
// together with its exit status.
struct SubprocessResult {
    int exitCode = -1;
    std::string output;
};

SubprocessResult RunProgram(const std::vector<std::string>& argv);

// Starts a program in the background, its standard output and error into the given files.
// Returns its process id, or -1.
int StartProgram(const std::vector<std::string>& argv, const std::string& stdoutPath,
                 const std::string& stderrPath);
// Waits for a program StartProgram began; its exit status, or 128 + n when signal n ended it.
int WaitProgram(int pid);

// Path of one of our own programs in the build's bin folder.
std::string BinPath(const std::string& name);

// Writes a recording with vyrk-sample; fails the current test when that does not work.
// Returns vyrk-sample's summary output.
std::string MakeSample(const std::string& path, const std::vector<std::string>& options);
