#pragma once

#include <functional>
#include <string>

// The few operating-system services the engine needs, behind one small seam so the window
// program can show messages its own way.
namespace Platform {

// Receives a message meant for the operator: text and caption (UTF-8). It returns when the
// operator has seen it (a window program blocks the caller until the box is dismissed).
using UserMessageHandler = std::function<void(const std::string& text, const std::string& caption)>;

// Installs the handler for ShowUserMessage; an empty handler restores the default, which prints
// the text to standard error. Install before any worker thread may show a message.
void SetUserMessageHandler(UserMessageHandler handler);

// Tells the operator something and returns once it has been acknowledged.
void ShowUserMessage(const std::string& text, const std::string& caption);

// Creates one directory level (parents are not created). A trailing '/' is allowed.
// Returns true when the directory was created; false when it exists already or creation failed.
bool CreateDirectoryOneLevel(const std::string& path);

// Makes a finished file durable and gives it its final name: flushes the file to the disk,
// renames it over `to` (atomic within one file system: readers see the old file or the new one,
// never a mix) and flushes the folder so the name survives a power loss. Returns 0, or the errno
// of the step that failed; the source is then left as it was.
// Built with VYRK_FUZZ_NO_FSYNC (the fuzzing build only) it only renames.
int CommitFile(const std::string& from, const std::string& to);

// Write-back ahead of the sync that finishes a file: OpenForWriteBack gives a descriptor of the
// file (-1 when it cannot, and the others then do nothing), StartWriteBack asks the system to
// begin writing the file's changed pages to disk now without waiting for it, so that the final
// sync has little left to do, and CloseWriteBack gives the descriptor back.
int OpenForWriteBack(const std::string& path);
void StartWriteBack(int fd);
void CloseWriteBack(int fd);

// Suspends the calling thread for the given number of milliseconds.
void SleepMs(unsigned milliseconds);

} // namespace Platform
