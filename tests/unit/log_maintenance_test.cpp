// Log folder upkeep: size rotation of the open file and deletion of old udplog*.log files, with
// the open file, other names, subfolders and over-long paths left alone, and nothing printed.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "output/debug_ui.h"
#include "output/run_statistics.h"
#include "support/capture.h"
#include "support/expected_text.h"
#include "support/files.h"
#include "support/writer.h"

using namespace testing_support;

namespace {

constexpr std::time_t kDay = 86400;

class LogMaintenanceTest : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        StartRunStatistics();  // the rotations are counted for the statistics line
    }

    // One maintenance pass; it must print nothing.
    void Check() {
        OutputCapture capture;
        writer.CheckLogFiles();
        capture.Stop();
        EXPECT_EQ(capture.Out(), "");
        EXPECT_EQ(capture.Err(), "");
    }

    void OpenEmptyLogFile() {
        std::tm now{};
        const std::time_t t = std::time(nullptr);
        localtime_r(&t, &now);
        ASSERT_EQ(writer.OpenLogFile(now), 0);
    }

    const std::time_t now = std::time(nullptr);
};

TEST_F(LogMaintenanceTest, RotatesOnlyOnceTheFileIsPastTheLimit) {
    settings.logFileSize = 1;
    Line(std::string(1015, 'x') + "\n");  // prefix + text: exactly 1024 bytes
    const std::string first = LogPath();
    Check();
    EXPECT_EQ(runStatistics.rotated, 0u) << "exactly at the limit is not past it";

    Line("");  // 8 more bytes, still in the same file
    Check();
    EXPECT_EQ(runStatistics.rotated, 1u);

    // The next line opens a file of its own (moved the old one aside: both may share one second).
    ASSERT_EQ(rename(first.c_str(), folder.File("rotated").c_str()), 0);
    Line("next\n");
    EXPECT_TRUE(MatchRecords(LogContent(), {"next\n"}));
    EXPECT_EQ(ReadFile(folder.File("rotated")).size(), 1032u);
}

TEST_F(LogMaintenanceTest, ZeroLimitRotatesAnyFileWithABytePastIt) {
    settings.logFileSize = 0;
    OpenEmptyLogFile();
    Check();
    EXPECT_EQ(runStatistics.rotated, 0u) << "an empty file is not past a limit of 0";
    Line("");
    Check();
    EXPECT_EQ(runStatistics.rotated, 1u);
}

TEST_F(LogMaintenanceTest, NegativeLimitRotatesEvenAnEmptyFile) {
    settings.logFileSize = -1;
    OpenEmptyLogFile();
    Check();
    EXPECT_EQ(runStatistics.rotated, 1u);
}

TEST_F(LogMaintenanceTest, LimitsOf4GiBAndMoreMeanWhatTheySay) {
    for (const int32_t limit : {4 * 1024 * 1024, INT32_MAX}) {
        settings.logFileSize = limit;
        Line("some text\n");
        Check();
        EXPECT_EQ(runStatistics.rotated, 0u) << "limit " << limit;
    }
}

TEST_F(LogMaintenanceTest, DeletesOnlyOldMatchingFilesDirectlyInTheFolder) {
    settings.retentionDays = 30;
    const std::time_t old = now - 31 * kDay;
    const std::time_t young = now - 29 * kDay;
    WriteAgedFile(folder.File("udplog_20200101000000.log"), "old\n", old);
    WriteAgedFile(folder.File("udplog.log"), "old\n", old);
    WriteAgedFile(folder.File("udplog_young.log"), "young\n", young);
    const char* const others[] = {"udplog.txt", "other.log", "UDPLOG_OLD.LOG", "xudplog_a.log", "udplog_a.log.bak"};
    for (const char* name : others) WriteAgedFile(folder.File(name), "other\n", now - 400 * kDay);
    ASSERT_TRUE(std::filesystem::create_directory(folder.File("udplog_dir.log")));
    AgeFile(folder.File("udplog_dir.log"), now - 400 * kDay);
    ASSERT_TRUE(std::filesystem::create_directory(folder.File("sub")));
    WriteAgedFile(folder.File("sub/udplog_inner.log"), "inner\n", now - 400 * kDay);

    Check();

    EXPECT_FALSE(Exists(folder.File("udplog_20200101000000.log")));
    EXPECT_FALSE(Exists(folder.File("udplog.log")));
    EXPECT_TRUE(Exists(folder.File("udplog_young.log")));
    for (const char* name : others) EXPECT_TRUE(Exists(folder.File(name))) << name;
    EXPECT_TRUE(Exists(folder.File("udplog_dir.log"))) << "a matching folder is no log file";
    EXPECT_TRUE(Exists(folder.File("sub/udplog_inner.log"))) << "subfolders are not searched";
}

// The cheap look that lets a caller skip listing a large folder: it must say "may delete" whenever
// a listing could, i.e. after any change to the folder and once any file listed may have come of age.
TEST_F(LogMaintenanceTest, CleanUpMayDeleteOnlyAfterAChangeOrOnceAFileMayHaveComeOfAge) {
    settings.retentionDays = 30;
    WriteAgedFile(folder.File("udplog_young.log"), "young\n", now - 29 * kDay);
    EXPECT_TRUE(writer.CleanUpMayDelete()) << "never listed yet";
    Check();
    EXPECT_FALSE(writer.CleanUpMayDelete());

    // A folder's time stamp may be as coarse as a clock tick (the caller lists anyway now and then).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteAgedFile(folder.File("udplog_old.log"), "old\n", now - 31 * kDay);
    EXPECT_TRUE(writer.CleanUpMayDelete()) << "a file was added";
    Check();
    EXPECT_FALSE(Exists(folder.File("udplog_old.log")));
    Check();  // the deletion itself changed the folder
    EXPECT_FALSE(writer.CleanUpMayDelete());

    settings.retentionDays = 0;
    OpenEmptyLogFile();
    Check();
    Check();  // the first one deleted the closed file
    EXPECT_TRUE(writer.CleanUpMayDelete()) << "the open file is of age as soon as it is closed";
}

TEST_F(LogMaintenanceTest, ZeroRetentionDeletesEveryClosedFileButNeverTheOpenOne) {
    settings.retentionDays = 0;
    Line("kept\n");
    const std::string open = LogPath();
    AgeFile(open, now - 3600);  // old enough by its time: only its being open saves it
    WriteAgedFile(folder.File("udplog_closed.log"), "closed\n", now - 5);

    Check();

    EXPECT_TRUE(Exists(open));
    EXPECT_FALSE(Exists(folder.File("udplog_closed.log")));
    Line("still\n");
    EXPECT_TRUE(MatchRecords(ReadFile(open), {"kept\n", "still\n"}));
}

TEST_F(LogMaintenanceTest, FileClosedForItsSizeIsDeletedInTheSamePassWhenOld) {
    settings.retentionDays = 1;
    settings.logFileSize = 0;
    Line("big enough\n");
    const std::string open = LogPath();
    AgeFile(open, now - 2 * kDay);
    Check();
    EXPECT_EQ(runStatistics.rotated, 1u);
    EXPECT_FALSE(Exists(open));
}

TEST_F(LogMaintenanceTest, NegativeRetentionDeletesEvenFilesFromTheFuture) {
    settings.retentionDays = -2;
    WriteAgedFile(folder.File("udplog_now.log"), "now\n", now);
    WriteAgedFile(folder.File("udplog_tomorrow.log"), "tomorrow\n", now + kDay);
    Check();
    EXPECT_FALSE(Exists(folder.File("udplog_now.log")));
    EXPECT_FALSE(Exists(folder.File("udplog_tomorrow.log")));
}

TEST_F(LogMaintenanceTest, RetentionBeyond68YearsMeansWhatItSays) {
    WriteAgedFile(folder.File("udplog_last_year.log"), "x\n", now - 365 * kDay);
    for (const int32_t days : {30000, INT32_MAX}) {
        settings.retentionDays = days;
        Check();
        EXPECT_TRUE(Exists(folder.File("udplog_last_year.log"))) << "retention " << days;
    }
    settings.retentionDays = INT32_MIN;
    Check();
    EXPECT_FALSE(Exists(folder.File("udplog_last_year.log")));
}

// A sender's clock or a user can leave any time on a file. Times far from now must still compare
// correctly (and without overflow): a file from the year 2400 is young, one from 1901 old.
TEST_F(LogMaintenanceTest, FarFutureAndFarPastTimesCompareCorrectly) {
    settings.retentionDays = 30;
    const std::time_t year2400 = 13569465600;
    const std::time_t year1901 = -2147483648LL;
    WriteAgedFile(folder.File("udplog_future.log"), "f\n", year2400);
    WriteAgedFile(folder.File("udplog_past.log"), "p\n", year1901);
    Check();
    EXPECT_TRUE(Exists(folder.File("udplog_future.log")));
    EXPECT_FALSE(Exists(folder.File("udplog_past.log")));
}

TEST_F(LogMaintenanceTest, MissingFolderDoesNothing) {
    const std::string missing = folder.File("missing");
    snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", missing.c_str());
    settings.retentionDays = -1;
    Check();
    EXPECT_FALSE(Exists(missing));
}

TEST_F(LogMaintenanceTest, EntryWhosePathWouldNotFitIsLeftAlone) {
    // A folder of about 220 characters: a short name still fits the 256-byte path, a long one not.
    const std::string deep = folder.File(std::string(219 - folder.Path().size(), 'd'));
    ASSERT_TRUE(std::filesystem::create_directory(deep));
    snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", deep.c_str());
    const std::string shortName = deep + "/udplog_s.log";
    const std::string longName = deep + "/udplog_" + std::string(40, 'n') + ".log";
    ASSERT_LT(shortName.size(), 256u);
    ASSERT_GT(longName.size(), 255u);
    WriteAgedFile(shortName, "s\n", now - 400 * kDay);
    WriteAgedFile(longName, "n\n", now - 400 * kDay);

    Check();

    EXPECT_FALSE(Exists(shortName));
    EXPECT_TRUE(Exists(longName));
}

}  // namespace
