#include "CFolderLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder removed or replaced between opening and locking it is tried again, a few times.
constexpr int kAttempts = 16;

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

int CFolderLock::Acquire(const std::string& folder) {
    Release();
    const std::string path = WithoutTrailingSlashes(folder);
    if (path.empty())
        return ENOENT;
    int error = EAGAIN;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool moved = false;
        error = TryOnce(path, moved);
        if (!moved)
            return error;
    }
    return error;
}

// One attempt: make, open and lock the folder, then check that the name still leads to the
// folder locked (its holder may have removed it just before letting go).
int CFolderLock::TryOnce(const std::string& path, bool& moved) {
    const bool created = mkdir(path.c_str(), 0777) == 0;
    if (!created && errno != EEXIST)
        return errno;
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno; // EWOULDBLOCK: another conversion holds it
        close(fd);
        return error;
    }
    struct stat locked, named;
    if (fstat(fd, &locked) != 0 || stat(path.c_str(), &named) != 0 ||
        locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
        close(fd);
        moved = true;
        return EAGAIN;
    }
    m_fd = fd;
    m_created = created;
    return 0;
}

void CFolderLock::Release() {
    if (m_fd >= 0)
        close(m_fd); // closing the only descriptor of the open folder drops its lock
    m_fd = -1;
    m_created = false;
}
