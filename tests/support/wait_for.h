// Waiting for a condition in the unit tests, polled every millisecond.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

/// Polls `condition` every millisecond until it holds or `timeoutMs` has passed; true if it held.
/// The time-outs are generous on purpose: the tests run on slow, shared machines.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace testing_support
