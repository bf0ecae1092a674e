#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// The bytes that the queues of one conversion's muxers hold together. A muxer holds what it
// queues and releases what its writer has taken. When a release brings the total under the
// low-water mark, or to nothing, the room handler runs on that writer's thread, so that a producer
// paused for room looks again at once. Lock-free: the handler runs under no lock of ours.
class CQueueBudget {
public:
    // The handler must be quick and must not throw.
    CQueueBudget(int64_t lowWaterBytes, std::function<void()> onRoom)
        : m_nLowWater(lowWaterBytes), m_onRoom(std::move(onRoom)) {}
    CQueueBudget(const CQueueBudget&) = delete;
    CQueueBudget& operator=(const CQueueBudget&) = delete;

    void Hold(int64_t bytes) { m_nHeld.fetch_add(bytes, std::memory_order_relaxed); }
    void Release(int64_t bytes) {
        const int64_t before = m_nHeld.fetch_sub(bytes, std::memory_order_acq_rel);
        const int64_t after = before - bytes;
        if (m_onRoom && ((before >= m_nLowWater && after < m_nLowWater) || after == 0))
            m_onRoom();
    }
    int64_t Held() const { return m_nHeld.load(std::memory_order_acquire); }
    int64_t LowWater() const { return m_nLowWater; }

private:
    const int64_t m_nLowWater;
    const std::function<void()> m_onRoom;
    std::atomic<int64_t> m_nHeld{0};
};
