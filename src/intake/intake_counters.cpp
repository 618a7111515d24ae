// The receiver thread's counters.
#include "intake/intake_counters.h"

IntakeCounters intakeCounters;

namespace {

uint32_t lastSystemCounter = 0;  // the system's counter as last seen (receiver thread)

}  // namespace

void NoteSystemDropCounter(uint32_t systemCounter) {
    // The difference of two 32-bit counts is right across a wrap; a negative one is a stale value.
    int32_t grown = static_cast<int32_t>(systemCounter - lastSystemCounter);
    if (grown <= 0) return;
    lastSystemCounter = systemCounter;
    CountIntake(intakeCounters.droppedSystem, static_cast<uint64_t>(grown));
}

void ResetIntakeCounters() {
    for (std::atomic<uint64_t>* counter :
         {&intakeCounters.datagrams, &intakeCounters.bytes, &intakeCounters.droppedSystem,
          &intakeCounters.droppedQueue, &intakeCounters.truncated, &intakeCounters.truncatedBytes,
          &intakeCounters.forcedLineFeeds}) {
        counter->store(0);
    }
    lastSystemCounter = 0;
}
