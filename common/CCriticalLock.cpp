#include "CCriticalLock.h"

namespace Thread {
namespace Lock {

CCriticalLock::CCriticalLock() {
    pthread_spin_init(&m_spin, PTHREAD_PROCESS_PRIVATE);
}

void CCriticalLock::Lock() {
    pthread_spin_lock(&m_spin);
}

void CCriticalLock::Unlock() {
    pthread_spin_unlock(&m_spin);
}

CCriticalLock::~CCriticalLock() {
    pthread_spin_destroy(&m_spin);
}

} // namespace Lock
} // namespace Thread
