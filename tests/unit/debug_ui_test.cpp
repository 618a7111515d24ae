// The writer: log file name and record format, the console copy, the missing folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <regex>
#include <string>

#include "output/debug_ui.h"
#include "platform/files.h"
#include "support/capture.h"
#include "support/expected_text.h"
#include "support/files.h"
#include "support/writer.h"

using namespace testing_support;

namespace {

class DebugUiTest : public WriterTest {};

std::string NameFor(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char name[64];
    strftime(name, sizeof name, "udplog_%Y%m%d%H%M%S.log", &local);
    return name;
}

TEST_F(DebugUiTest, FirstLineOpensAFileNamedAfterItsOwnTimeAndStartsIt) {
    const std::time_t before = std::time(nullptr);
    Line("first\n");
    const std::time_t after = std::time(nullptr);

    const auto names = LogFileNames(folder.Path());
    ASSERT_EQ(names.size(), 1u);
    bool nameInSpan = false;
    for (std::time_t t = before; t <= after; ++t) nameInSpan = nameInSpan || names[0] == NameFor(t);
    EXPECT_TRUE(nameInSpan) << names[0];

    // The record's prefix carries the same hour, minute and second as the name.
    const std::string hhmmss = names[0].substr(15, 6);
    EXPECT_EQ(LogContent(), hhmmss + ": first\n");
    EXPECT_EQ(out, hhmmss + ": first\n") << "off a terminal the console gets the plain record";
    EXPECT_EQ(err, "");
}

TEST_F(DebugUiTest, TextIsWrittenVerbatim) {
    Line("");  // an empty text: the prefix alone, no line end
    Line("100% %s %d %n\n");
    Line("\x1b[2J\x07 raw\r\n");  // the log file keeps every byte; so does a console that is no terminal
    const std::vector<std::string> texts = {"", "100% %s %d %n\n", "\x1b[2J\x07 raw\r\n"};
    EXPECT_TRUE(MatchRecords(LogContent(), texts));
    EXPECT_TRUE(MatchRecords(out, texts));
}

TEST_F(DebugUiTest, AnExistingFileOfTheSameNameIsContinued) {
    WriteAgedFile(folder.File("udplog_20200102030405.log"), "old record\n", std::time(nullptr));
    std::tm when{};
    when.tm_year = 2020 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 2;
    when.tm_hour = 3;
    when.tm_min = 4;
    when.tm_sec = 5;
    EXPECT_EQ(writer.OpenLogFile(when), 0);
    EXPECT_EQ(writer.OpenLogFile(when), 0) << "a file already open is kept";
    Line("new record\n");

    const std::string content = ReadFile(folder.File("udplog_20200102030405.log"));
    ASSERT_GT(content.size(), 11u);
    EXPECT_EQ(content.substr(0, 11), "old record\n");
    EXPECT_TRUE(MatchRecords(content.substr(11), {"new record\n"}));
}

TEST_F(DebugUiTest, MissingFolderReportsEveryLineAndStillShowsIt) {
    const std::string missing = folder.File("missing");
    Bind(missing);
    Line("one\n");
    Line("two\n");

    const std::regex message("fopen\\(\\) for " + missing +
                             "/udplog_\\d{14}\\.log, error = No such file or directory\n");
    std::smatch found;
    std::string rest = err;
    int count = 0;
    while (std::regex_search(rest, found, message)) {
        ++count;
        rest = found.suffix();
    }
    EXPECT_EQ(count, 2) << err;
    EXPECT_EQ(rest, "") << "nothing else on standard error";
    EXPECT_TRUE(MatchRecords(out, {"one\n", "two\n"}));
    EXPECT_FALSE(Exists(missing));
}

TEST_F(DebugUiTest, FolderTooLongForThePathBufferFailsWithoutOverrun) {
    const std::string longFolder = "/nonexistent/" + std::string(240, 'd');
    Bind(longFolder);
    std::tm now{};
    now.tm_year = 124;
    now.tm_mday = 1;
    OutputCapture quiet;
    const int result = writer.OpenLogFile(now);
    quiet.Stop();
    EXPECT_EQ(result, -1);
}

// A batch of records that meets a file-size limit: the records the file took whole stay, a torn
// one is taken back, whether the limit falls on a record's end, one byte before it or inside it.
TEST_F(DebugUiTest, BatchMeetingAFileSizeLimitKeepsOnlyWholeRecords) {
    const std::string record(99, 'r');
    std::string bytes;
    uint32_t ends[15];
    for (uint32_t& end : ends) {
        bytes += record + "\n";
        end = static_cast<uint32_t>(bytes.size());
    }
    const struct {
        rlim_t limit;
        int kept;
    } cases[] = {{1000, 10}, {1099, 10}, {1050, 10}, {1, 0}, {1500, 15}};
    for (const auto& test : cases) {
        const std::string path = folder.File("udplog_limit" + std::to_string(test.limit) + ".log");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {  // the limit is the process's own: set it in a child
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {test.limit, test.limit};
            int error = 0;
            FILE* file = setrlimit(RLIMIT_FSIZE, &limit) == 0 ? PlatOpenLogFile(path.c_str(), &error) : nullptr;
            _exit(file == nullptr ? 99 : PlatAppendRecords(file, bytes.data(), ends, 15, &error));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), test.kept) << "limit " << test.limit;
        EXPECT_EQ(ReadFile(path), bytes.substr(0, test.kept * 100)) << "limit " << test.limit;
    }
}

}  // namespace
