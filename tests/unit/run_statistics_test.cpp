// The statistics line: every counter in its own field.
#include <gtest/gtest.h>

#include <regex>

#include "intake/intake_counters.h"
#include "output/run_statistics.h"
#include "platform/clock.h"

TEST(RunStatisticsTest, EveryFieldShowsItsOwnCounter) {
    StartRunStatistics();
    std::atomic<uint64_t>* intake[] = {&intakeCounters.datagrams, &intakeCounters.bytes,
                                       &intakeCounters.droppedSystem, &intakeCounters.droppedQueue,
                                       &intakeCounters.truncated};
    for (int i = 0; i < 5; ++i) *intake[i] = 11 + i;
    runStatistics.logged = 16;
    runStatistics.notStored = 17;
    runStatistics.notShown = 18;
    runStatistics.rotated = 19;
    runStatistics.deleted = 20;
    runStatistics.startMs = PlatMonotonicMilliseconds() - 21500;
    char line[512];
    FormatStatisticsLine(line, sizeof line);
    EXPECT_TRUE(std::regex_match(line, std::regex("udptrail stats: received=11 bytes=12 logged=16 "
        "dropped_system=13 dropped_queue=14 truncated=15 not_stored=17 not_shown=18 rotated=19 "
        "deleted=20 uptime_s=2[12]\n"))) << line;
    for (auto* counter : intake) *counter = 0;
    StartRunStatistics();
}
