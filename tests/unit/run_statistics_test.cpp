// The statistics line: every counter in its own field.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "intake/intake_counters.h"
#include "output/run_statistics.h"
#include "platform/clock.h"

namespace {

TEST(RunStatisticsTest, EveryFieldShowsItsOwnCounter) {
    StartRunStatistics();
    intakeCounters.datagrams = 11;
    intakeCounters.bytes = 12;
    intakeCounters.droppedSystem = 14;
    intakeCounters.droppedQueue = 15;
    intakeCounters.truncated = 16;
    runStatistics.logged = 13;
    runStatistics.notStored = 17;
    runStatistics.notShown = 18;
    runStatistics.rotated = 19;
    runStatistics.deleted = 20;
    runStatistics.startMs = PlatMonotonicMilliseconds() - 21500;
    char line[512];
    const size_t length = FormatStatisticsLine(line, sizeof line);
    EXPECT_TRUE(std::regex_match(std::string(line, length),
                                 std::regex("udptrail stats: received=11 bytes=12 logged=13 dropped_system=14 "
                                            "dropped_queue=15 truncated=16 not_stored=17 not_shown=18 "
                                            "rotated=19 deleted=20 uptime_s=2[12]\n")))
        << line;
    for (auto* counter : {&intakeCounters.datagrams, &intakeCounters.bytes, &intakeCounters.droppedSystem,
                          &intakeCounters.droppedQueue, &intakeCounters.truncated}) {
        *counter = 0;
    }
    StartRunStatistics();
}

}  // namespace
