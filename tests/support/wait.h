// Waiting for a condition, polled.
#pragma once

#include <functional>

namespace testing_support {

/// Polls `condition` every few milliseconds until it holds or `seconds` have passed.
bool WaitUntil(const std::function<bool()>& condition, double seconds);

}  // namespace testing_support
