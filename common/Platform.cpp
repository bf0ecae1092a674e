#include "Platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Platform {

namespace {

std::mutex g_handlerMutex;
UserMessageHandler g_handler;

UserMessageHandler CurrentHandler() {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    return g_handler;
}

} // namespace

void SetUserMessageHandler(UserMessageHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    g_handler = std::move(handler);
}

void ShowUserMessage(const std::string& text, const std::string& caption) {
    UserMessageHandler handler = CurrentHandler();
    if (handler) {
        handler(text, caption);
        return;
    }
    fprintf(stderr, "%s\n", text.c_str());
    (void)caption;
}

bool CreateDirectoryOneLevel(const std::string& path) {
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty())
        return false;
    return mkdir(dir.c_str(), 0777) == 0;
}

namespace {

// The fuzzing build writes thousands of throw-away files a minute, and flushes none of them.
#ifdef VYRK_FUZZ_NO_FSYNC
constexpr bool kSyncFiles = false;
#else
constexpr bool kSyncFiles = true;
#endif

// fsync through a descriptor of our own; any descriptor of a file flushes its data.
int SyncPath(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int rc = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return rc;
}

} // namespace

int CommitFile(const std::string& from, const std::string& to) {
    if (const int rc = kSyncFiles ? SyncPath(from, O_RDONLY) : 0)
        return rc;
    if (rename(from.c_str(), to.c_str()) != 0)
        return errno;
    const size_t slash = to.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : to.substr(0, slash));
    // The data is safe already; a folder that cannot be flushed (some file systems refuse
    // fsync on directories) does not undo the rename.
    if (kSyncFiles)
        SyncPath(folder, O_RDONLY | O_DIRECTORY);
    return 0;
}

int OpenForWriteBack(const std::string& path) {
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void StartWriteBack(int fd) {
    if (fd >= 0)
        sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void CloseWriteBack(int fd) {
    if (fd >= 0)
        close(fd);
}

void SleepMs(unsigned milliseconds) {
    struct timespec rest;
    rest.tv_sec = milliseconds / 1000;
    rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // namespace Platform
