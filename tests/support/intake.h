// A clean intake (ring, state and data event) for each test, and taking chunks off the ring.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

/// Puts the ring and the intake state back to their start-of-run values and allocates the ring;
/// creates a data event when `withEvent` is set.
void ResetIntake(bool withEvent = true);

/// Releases the ring and the event and stops a receiver still running.
void ReleaseIntake();

/// The receiver's queued messages, taken and formatted as the console shows them.
std::string TakeIntakeMessages();

/// Waits up to `timeoutMs` for a queued chunk and takes it, without touching the pressure state
/// (an empty pop would end a congested state the test set up); "<none>" if none came.
std::string TakeChunk(int timeoutMs = 0);

/// Each test starts with a clean intake and releases it at the end.
class IntakeTest : public ::testing::Test {
protected:
    void SetUp() override { ResetIntake(); }
    void TearDown() override { ReleaseIntake(); }
};

/// The ring and a data event as a fresh run has them, for tests that drive the intake by hand; at
/// the end the ring is drained and the shared state is put back.
class RingTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace testing_support
