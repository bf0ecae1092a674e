#pragma once

#include <string>

// A small tmpfs of our own at `path` (the folder is made if missing), unmounted when it goes;
// not mounted where this machine does not allow it.
class ScopedTmpfs {
public:
    ScopedTmpfs(const std::string& path, const std::string& options);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    bool Mounted() const { return m_mounted; }

private:
    std::string m_path;
    bool m_mounted;
};
