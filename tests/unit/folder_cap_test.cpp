// Sizes as the options give them and as warnings show them, the choice of the log files that
// --max-total, --keep-free and a full disk delete, and the gzip of one closed log file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>

#include <string>
#include <vector>

#include "output/byte_size.h"
#include "output/compressor.h"
#include "output/folder_cap.h"
#include "support/files.h"

namespace {

TEST(ByteSize, ParsesBytesAndPowersOf1024AndRefusesTheRest) {
    struct Case { const char* text; bool ok; uint64_t bytes; };
    const Case cases[] = {
        {"1", true, 1}, {"4096", true, 4096}, {"20G", true, 20ULL << 30}, {"5g", true, 5ULL << 30},
        {"3K", true, 3072}, {"2M", true, 2ULL << 20}, {"1T", true, 1ULL << 40},
        {"16777215T", true, 16777215ULL << 40}, {"18446744073709551615", true, UINT64_MAX},
        {"", false, 0}, {"0", false, 0}, {"0K", false, 0}, {"G", false, 0}, {"-1", false, 0},
        {"1.5G", false, 0}, {"10GB", false, 0}, {"10 G", false, 0}, {"7X", false, 0},
        {"16777217T", false, 0}, {"18446744073709551616", false, 0}, {" 1", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t bytes = 0;
        EXPECT_EQ(ParseByteSize(c.text, &bytes), c.ok) << c.text;
        EXPECT_EQ(bytes, c.bytes) << c.text;
    }
}

TEST(ByteSize, ShowsOneDecimalBelowTenAndCutsNeverRoundsUp) {
    struct Case { uint64_t bytes; const char* shown; };
    const Case cases[] = {
        {0, "0"}, {1023, "1023"}, {1024, "1.0K"}, {1535, "1.4K"}, {10 * 1024 - 1, "9.9K"},
        {10 * 1024, "10K"}, {(1ULL << 20) - 1, "1023K"}, {2040109465ULL, "1.8G"},
        {20ULL << 30, "20G"}, {UINT64_MAX, "15E"},
    };
    for (const Case& c : cases) {
        char text[32];
        EXPECT_STREQ(FormatByteSize(c.bytes, text, sizeof text), c.shown) << c.bytes;
    }
}

// Names of the files chosen, in the order chosen.
std::vector<std::string> Chosen(std::vector<FolderFile>& files, const FolderChoice& choice) {
    std::vector<std::string> names;
    for (size_t i = 0; i < choice.Count(); ++i) names.push_back(files[i].name);
    return names;
}

TEST(FolderCap, DeletesTheOldestClosedFilesUntilEachLimitHolds) {
    const std::string a = "udplog_20260101000000.log.gz", b = "udplog_20260101000001.log",
                      c = "udplog_20260102000000.log", open = "udplog_20251231000000.log";
    // Listed in no particular order; the time in the name ranks before the modification time,
    // which only breaks ties and orders names without a time (first). The open file's name is
    // the oldest here (the clock was set back): it is still never chosen.
    auto listing = [&] {
        return std::vector<FolderFile>{
            {c, 50, 100, false},   {open, 10, 400, true},       {a, 90, 100, false},
            {b, 5, 100, false},    {"udplogx.log", 70, 10, false},
        };
    };
    struct Case {
        const char* what;
        FolderLimits limits;
        uint64_t freeBytes, room;
        std::vector<std::string> chosen;
        size_t forTotal, forFree, forRoom;
    };
    const Case cases[] = {
        {"within every limit", {710, 1000}, 1000, 0, {}, 0, 0, 0},
        {"no limits", {0, 0}, 0, 0, {}, 0, 0, 0},
        {"one byte over the total", {709, 0}, 0, 0, {"udplogx.log"}, 1, 0, 0},
        {"total needs two", {600, 0}, 0, 0, {"udplogx.log", a}, 2, 0, 0},
        {"the open file is never chosen", {1, 0}, 0, 0, {"udplogx.log", a, b, c}, 4, 0, 0},
        {"free space short", {0, 250}, 100, 0, {"udplogx.log", a, b}, 0, 3, 0},
        {"free space exactly enough", {0, 100}, 100, 0, {}, 0, 0, 0},
        {"total first, then free space", {600, 300}, 100, 0, {"udplogx.log", a, b}, 2, 1, 0},
        {"total frees enough space too", {600, 200}, 100, 0, {"udplogx.log", a}, 2, 0, 0},
        {"room for a write", {0, 0}, 0, 150, {"udplogx.log", a, b}, 0, 0, 3},
        {"room after the limits", {700, 0}, 0, 50, {"udplogx.log", a}, 1, 0, 1},
    };
    for (const Case& test : cases) {
        std::vector<FolderFile> files = listing();
        FolderChoice choice = ChooseFilesToDelete(files, test.limits, test.freeBytes, test.room);
        EXPECT_EQ(Chosen(files, choice), test.chosen) << test.what;
        EXPECT_EQ(choice.forTotal, test.forTotal) << test.what;
        EXPECT_EQ(choice.forFree, test.forFree) << test.what;
        EXPECT_EQ(choice.forRoom, test.forRoom) << test.what;
        uint64_t bytes = 0;
        for (size_t i = 0; i < choice.Count(); ++i) bytes += files[i].size;
        EXPECT_EQ(choice.bytesForTotal + choice.bytesForFree + choice.bytesForRoom, bytes)
            << test.what;
    }
}

TEST(FolderCap, ReadsTheTimeInALogFileName) {
    EXPECT_EQ(TimeInLogFileName("udplog_20261209211725.log"), 20261209211725u);
    EXPECT_EQ(TimeInLogFileName("udplog_20261209211725.log.gz"), 20261209211725u);
    EXPECT_EQ(TimeInLogFileName("udplog_2026120921172.log"), 0u);
    EXPECT_EQ(TimeInLogFileName("udplog_202612092117251.log"), 0u);
    EXPECT_EQ(TimeInLogFileName("udplog-20261209211725.log"), 0u);
    EXPECT_EQ(TimeInLogFileName("udplog_2026120921172x.log"), 0u);
}

std::string Gunzip(const std::string& path) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (in == nullptr) return "<unreadable>";
    std::string text;
    char chunk[4096];
    for (int n; (n = gzread(in, chunk, sizeof chunk)) > 0;) text.append(chunk, size_t(n));
    gzclose(in);
    return text;
}

// A stopped compression leaves the original alone and nothing else; a finished one replaces it,
// and a name met again adds to the compressed file instead of replacing it.
TEST(Gzip, StoppedLeavesTheOriginalDoneReplacesItAndAddsToAnEarlierOne) {
    testing_support::TempDir dir;
    const std::string log = dir.File("udplog_20260101000000.log");
    testing_support::WriteFile(log, "first\n");
    const std::atomic<bool> stop{true};
    EXPECT_FALSE(GzipFile(log.c_str(), &stop));
    EXPECT_EQ(testing_support::ReadFile(log), "first\n");
    EXPECT_FALSE(testing_support::Exists(log + ".gz"));
    EXPECT_FALSE(testing_support::Exists(log + ".gz.tmp"));

    ASSERT_TRUE(GzipFile(log.c_str()));
    EXPECT_FALSE(testing_support::Exists(log));
    testing_support::WriteFile(log, "second\n");
    ASSERT_TRUE(GzipFile(log.c_str()));
    EXPECT_EQ(Gunzip(log + ".gz"), "first\nsecond\n");
    EXPECT_FALSE(testing_support::Exists(log + ".gz.tmp"));
}

}  // namespace
