#pragma once

namespace Thread {
namespace Lock {

// Minimal lock interface. No virtual destructor: locks are never deleted through it.
class CLockBase {
public:
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

protected:
    ~CLockBase() = default;
};

} // namespace Lock
} // namespace Thread
