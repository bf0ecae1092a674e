#pragma once

#include "CLockBase.h"

#include <pthread.h>

namespace Thread {
namespace Lock {

// Process-private spin lock. Not recursive: locking twice on one thread never returns.
class CCriticalLock : public CLockBase {
public:
    CCriticalLock();
    CCriticalLock(const CCriticalLock&) = delete;
    CCriticalLock& operator=(const CCriticalLock&) = delete;

    void Lock() override;
    void Unlock() override;
    virtual ~CCriticalLock();

private:
    pthread_spinlock_t m_spin;
};

} // namespace Lock
} // namespace Thread
