#pragma once

#include "CLockBase.h"

namespace Thread {
namespace Lock {

// Holds a lock (not owned) for the guard's lifetime.
class CLockGuard {
public:
    explicit CLockGuard(CLockBase* lock) : m_pLock(lock) { m_pLock->Lock(); }
    ~CLockGuard() { m_pLock->Unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CLockBase* m_pLock;
};

} // namespace Lock
} // namespace Thread
