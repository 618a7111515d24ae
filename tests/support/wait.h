// Waiting for a condition, polled.
#pragma once

#include <functional>

namespace e2e {

/// Polls `condition` every few milliseconds until it holds or `seconds` have passed.
bool WaitUntil(const std::function<bool()>& condition, double seconds);

}  // namespace e2e
