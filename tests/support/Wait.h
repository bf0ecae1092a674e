#pragma once

#include <chrono>
#include <functional>

// Waiting in tests: for a state, never for a guessed amount of time. The deadlines only catch a
// hang; they are far beyond what a slow, shared machine under a sanitizer needs, and a test that
// passes returns as soon as the state is reached.
constexpr std::chrono::seconds kHangDeadline{180};

// Polls the condition until it holds; false when the deadline passed first.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = kHangDeadline);

// Runs the work on a thread of its own and waits for it. When it has not returned by the
// deadline, the test cannot go on (the work still holds its objects): the failure is printed and
// the process ends.
void FinishesOrAbort(const char* what, const std::function<void()>& work,
                     std::chrono::milliseconds deadline = kHangDeadline);
