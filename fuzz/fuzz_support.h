// Shared pieces of the fuzz targets that drive the intake ring: invariant checks and a quiet,
// allocated ring for every run.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "intake/packet_queue.h"

/// Stops the run with `what` on standard error when `condition` does not hold.
inline void Check(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

/// Once per fuzzer: the console is sent to /dev/null (the code under test reports cut and carried
/// lines on it) and the ring is allocated.
inline void SilenceConsoleAndCreateQueue() {
    if (freopen("/dev/null", "w", stdout) == nullptr) return;
    if (!CreatePacketQueue()) abort();
}

/// Before each input: an empty ring in the normal pressure state.
inline void EmptyQueue() {
    packetQueue.readIndex = 0;
    packetQueue.writeIndex = 0;
    intakeState.queueFull = 0;
    intakeState.pollIntervalMs = kNormalPollIntervalMs;
}
