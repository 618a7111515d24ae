// Waiting for a condition, polled.
#include "support/wait.h"

#include <chrono>
#include <thread>

namespace testing_support {

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace testing_support
