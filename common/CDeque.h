#pragma once

#include "CCriticalLock.h"
#include "CLockGuard.h"

#include <deque>

namespace Types {

// A deque guarded by its own spin lock. The owner may touch m_items directly while it holds
// a CLockGuard on the queue.
template <typename T> class CDeque : public Thread::Lock::CCriticalLock {
public:
    // Moves the front element into out. Returns false, leaving out untouched, when empty.
    bool PopFront(T& out) {
        Thread::Lock::CLockGuard guard(this);
        if (m_items.empty())
            return false;
        out = std::move(m_items.front());
        m_items.pop_front();
        return true;
    }

    virtual ~CDeque() = default;

    std::deque<T> m_items;
};

} // namespace Types
