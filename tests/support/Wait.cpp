#include "Wait.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void FinishesOrAbort(const char* what, const std::function<void()>& work,
                     std::chrono::milliseconds deadline) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread worker([&] {
        work();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, deadline, [&] { return done; })) {
            fprintf(stderr, "FAILED: %s did not return within %lld s: it hangs\n", what,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::seconds>(deadline).count()));
            fflush(nullptr);
            std::_Exit(1);
        }
    }
    worker.join();
}
