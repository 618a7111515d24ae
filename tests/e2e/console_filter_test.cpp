// End-to-end: the console's filter options (the log file keeps every line), the pause's bound,
// full dates (--time=iso) and the lnav format that reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/server_test.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

class ConsoleFilter : public ServerTest {};

// Records the console showed after the banner, without the statistics line.
std::string ConsoleRecords(const std::string& out) {
    std::string records = out.substr(out.find("...\n\n") + 5);
    return records.substr(0, records.find("udptrail stats:"));
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
    pclose(pipe);
    return out;
}

TEST_F(ConsoleFilter, GrepAndExcludeChooseTheConsoleLinesTheLogFileKeepsAll) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--grep", "board a", "--grep=^err", "--exclude",
                                        "noise", "--ignore-case"}));
    for (const char* text : {"Board A up", "board a noise", "board B up", "ERR disk", "late err",
                             "board a done"})
        ASSERT_TRUE(sender.Send(Line(text)));
    ASSERT_TRUE(server.WaitForOutput("board a done\n"));
    ASSERT_TRUE(server.SendKeys("s"));
    ASSERT_TRUE(server.WaitForOutput(" filtered=3\n"));
    std::vector<std::string> shown = SplitRecords(ConsoleRecords(server.Output()));
    ASSERT_EQ(shown.size(), 3u) << server.Output();
    EXPECT_EQ(shown[0].substr(6), ": Board A up\n");
    EXPECT_EQ(shown[1].substr(6), ": ERR disk\n");
    EXPECT_EQ(shown[2].substr(6), ": board a done\n");
    EXPECT_EQ(SplitRecords(ReadLogs(dir.Path())).size(), 6u);

    // A pause holds up to 10,000 lines and tells how many more it could not hold.
    ASSERT_TRUE(server.SendKeys(" "));
    ASSERT_TRUE(server.WaitForOutput("space resumes --\n"));
    for (int i = 1; i <= 10005; ++i) ASSERT_TRUE(sender.Send(Line("board a held " + std::to_string(i))));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "board a held 10005\n", 30));
    ASSERT_TRUE(server.SendKeys(" "));
    ASSERT_TRUE(server.WaitForOutput(
        "board a held 10000\nWARNING, 5 lines not shown here (paused too long); the log file has "
        "them all\n", 30));
    EXPECT_EQ(CountOccurrences(server.Output(), "held"), 10000);
    Quit(server);
}

TEST_F(ConsoleFilter, WithSenderTheAddressIsMatchedAndABadPatternExitsTwo) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--sender", "--grep", "^127\\.0\\.0\\.1:[0-9]+ b"}));
    ASSERT_TRUE(sender.Send(Line("a hidden")));
    ASSERT_TRUE(Show("b shown"));
    EXPECT_EQ(server.Output().find("hidden"), std::string::npos);
    Quit(server);

    Server refused;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(
        refused, MakeOptions({std::to_string(port), "--grep", "a("}, dir.Path(), Console::Headless), 2));
    EXPECT_EQ(refused.Errors(),
              "udptrail: invalid value 'a(' for option '--grep': missing closing parenthesis at "
              "offset 2\n");
}

// --time=iso writes the local date and time as the system's own `date` does, with milliseconds.
TEST_F(ConsoleFilter, IsoTimeMatchesTheSystemDate) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--time=iso"}));
    const std::string dateCommand = "date +%Y-%m-%dT%H:%M:%S.%3N%:z";
    std::string before = Shell(dateCommand);
    ASSERT_TRUE(sender.Send(Line("dated")));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "dated\n"));
    std::string after = Shell(dateCommand);
    ASSERT_EQ(before.size(), 30u) << before;
    std::string record = ReadLogs(dir.Path());
    ASSERT_EQ(record.size(), 36u) << record;
    std::string stamp = record.substr(0, 29);
    EXPECT_EQ(record.substr(29), " dated\n");
    EXPECT_LE(before.substr(0, 29), stamp);
    EXPECT_LE(stamp, after.substr(0, 29));
    EXPECT_EQ(stamp.substr(23), before.substr(23, 6)) << "the zone's offset";
    EXPECT_NE(server.Output().find(record), std::string::npos) << "the console shows the same";
    Quit(server);
}

// lnav reads log files written with --time=iso, with and without --sender, the level of a
// --syslog record from its <PRI>.
TEST_F(ConsoleFilter, LnavParsesTimeSenderAndLevel) {
    if (Shell("command -v lnav").empty()) GTEST_SKIP() << "lnav is not installed";
    TempDir home;
    std::string installed = Shell("HOME=" + home.Path() + " lnav -i " UDPTRAIL_SOURCE_DIR
                                "/packaging/lnav/udptrail_log.json 2>&1");
    ASSERT_NE(installed.find("installed"), std::string::npos) << installed;
    ASSERT_TRUE(Listen(Console::Headless, {dir.Path(), "--time=iso"}));
    ASSERT_TRUE(sender.Send(Line("no sender here")));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "no sender here\n"));
    Quit(server, Sigterm);
    TempDir syslogDir;
    int syslogPort = FreeUdpPort();
    Server syslog;
    ASSERT_TRUE(syslog.Start(MakeOptions({std::to_string(syslogPort), syslogDir.Path(), "--time=iso",
                                          "--sender", "--syslog"}, syslogDir.Path(), Console::Headless)));
    ASSERT_TRUE(syslog.WaitForOutput("datagram)\n\n"));
    UdpSender to(syslogPort);
    for (const char* message : {"<11>disk failed", "<28>low space", "plain note"})
        ASSERT_TRUE(to.Send(message));
    ASSERT_TRUE(WaitForLogs(syslogDir.Path(), "plain note\n"));
    Quit(syslog, Sigterm);

    std::string files = dir.File(LogFileNames(dir.Path())[0]) + " " +
                        syslogDir.File(LogFileNames(syslogDir.Path())[0]);
    std::string table = Shell("HOME=" + home.Path() +
                            " timeout 60 lnav -n -c ';SELECT log_level, sender IS NOT NULL, "
                            "strftime(\"%Y\", log_time) = strftime(\"%Y\", \"now\"), log_body FROM "
                            "udptrail_log ORDER BY log_body' " + files + " 2>&1");
    const char* rows[] = {"error 1 1 disk failed", "warning 1 1 low space", "info 0 1 no sender here",
                          "info 1 1 plain note"};
    std::string squeezed;  // the table with its columns' padding taken out
    for (char c : table) {
        if (c != ' ' || (!squeezed.empty() && squeezed.back() != ' ')) squeezed += c;
    }
    for (const char* row : rows) EXPECT_NE(squeezed.find(row), std::string::npos) << table;
}

}  // namespace
