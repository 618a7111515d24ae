// The writer's batches: the log file gets each record whole and in order, never after the console
// has shown it; only with standard output on /dev/null are records held back until the batch ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "output/debug_ui.h"
#include "test_support.h"

using namespace testing_support;

namespace {

class LogBatchTest : public WriterTest {};

TEST_F(LogBatchTest, RecordsReachTheFileWholeInOrderAndNeverAfterTheScreen) {
    writer.BeginBatch();
    Line("shown\n");
    EXPECT_TRUE(MatchRecords(LogContent(), {"shown\n"})) << "a line on screen is in the file";
    writer.EndBatch();

    // Standard output on /dev/null: the batch holds records until it ends or is full.
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    ASSERT_GE(saved, 0);
    ASSERT_GE(null, 0);
    dup2(null, STDOUT_FILENO);
    close(null);
    SetupConsole();
    std::vector<std::string> texts = {"shown\n"};
    for (int i = 0; i < kBatchRecords + 10; ++i) texts.push_back("line " + std::to_string(i) + "\n");
    texts.push_back(std::string(kTextPieceSize - 1, 'x') + "\n");
    writer.BeginBatch();
    for (size_t i = 1; i < texts.size(); ++i) writer.LogLine(7, texts[i].c_str());
    std::string whileOpen = LogContent();
    writer.EndBatch();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    {
        OutputCapture quiet;
        SetupConsole();  // back to a console that shows lines, for the tests after this one
    }

    EXPECT_TRUE(MatchRecords(whileOpen, {texts.begin(), texts.begin() + 1 + kBatchRecords}))
        << "a full batch is written at once, the rest waits for the batch end";
    EXPECT_TRUE(MatchRecords(LogContent(), texts));
}

}  // namespace
