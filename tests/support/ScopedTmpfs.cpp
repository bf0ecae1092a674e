#include "ScopedTmpfs.h"

#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>

ScopedTmpfs::ScopedTmpfs(const std::string& path, const std::string& options)
    : m_path(path), m_mounted((mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) &&
                              mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0) {}

ScopedTmpfs::~ScopedTmpfs() {
    if (m_mounted)
        umount2(m_path.c_str(), MNT_DETACH);
}
