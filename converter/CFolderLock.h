#pragma once

#include <string>

// An output folder held by one conversion at a time: an exclusive flock on the folder itself,
// taken without waiting and held until Release or destruction. The system drops it when the
// process ends, however it ends, so no lock file is ever left behind. Two locks on one folder
// exclude each other within one process as well.
class CFolderLock {
public:
    CFolderLock() = default;
    ~CFolderLock() { Release(); }
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // Creates the folder when it is missing (one level; a trailing '/' is allowed) and locks it.
    // Returns 0 once it is held, EWOULDBLOCK when another conversion holds it, or else the
    // errno of the step that failed (the folder cannot be made or is no folder).
    int Acquire(const std::string& folder);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    // Acquire created the folder (it did not exist before).
    bool Created() const { return m_created; }

private:
    int TryOnce(const std::string& folder, bool& moved);

    int m_fd = -1;
    bool m_created = false;
};
