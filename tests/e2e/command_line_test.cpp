// End-to-end: the usage text, the version, the settings banner and the arguments as the real
// binary reads them.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "e2e/harness.h"

using namespace e2e;

namespace {

class CommandLine : public ServerTest {};

TEST_F(CommandLine, UsageTextWithoutPortOrForHelp) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-h"},
                             std::vector<std::string>{"--help"}}) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
        Server usage;
        ASSERT_NO_FATAL_FAILURE(
            RunToEnd(usage, MakeOptions(args, dir.Path(), Console::Headless), 0));
        EXPECT_EQ(usage.Output(), UsageText());
        EXPECT_EQ(usage.Errors(), "");
    }
    // On a terminal the usage text comes without clearing the screen first.
    ASSERT_NO_FATAL_FAILURE(RunToEnd(server, MakeOptions({}, dir.Path(), Console::Terminal), 0));
    EXPECT_EQ(server.Output(), UsageText());
    EXPECT_TRUE(LogFileNames(dir.Path()).empty());
}

TEST_F(CommandLine, VersionNamesTheProgram) {
    ASSERT_NO_FATAL_FAILURE(
        RunToEnd(server, MakeOptions({"--version"}, dir.Path(), Console::Headless), 0));
    std::string out = server.Output();
    std::string expected = std::string("udptrail ") + UDPTRAIL_VERSION;
    EXPECT_EQ(out.substr(0, expected.size()), expected) << out;
    EXPECT_EQ(CountOccurrences(out, "\n"), 1) << out;
    EXPECT_EQ(out.back(), '\n');
}

TEST_F(CommandLine, OnePortArgumentShowsTheDefaultsExactly) {
    ASSERT_TRUE(Listen(Console::Headless));
    EXPECT_EQ(server.Output(), DefaultBanner());
    Quit(server, SIGTERM);
    // Off a terminal nothing but the banner and the closing lines: no clearing, no colours.
    EXPECT_EQ(server.Output(), DefaultBanner() + ClosingLines());
    EXPECT_EQ(WithoutFinalStatistics(server.Errors()), "");
}

TEST_F(CommandLine, TerminalIsClearedBeforeTheBanner) {
    ASSERT_TRUE(Listen(Console::Terminal));
    std::string out = server.Output();
    EXPECT_EQ(out.rfind("\x1b[2J\x1b[H", 0), 0u) << "the screen is not cleared first";
    EXPECT_EQ(StripCsi(out), DefaultBanner());
    Quit(server, SIGTERM);
}

TEST_F(CommandLine, AllArgumentsAreShownAndUsedAndAFifthIsIgnored) {
    std::string folder = dir.Sub("logs");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Listen(Console::Headless, {folder, "16", "7", "extra"}));
    EXPECT_EQ(server.Output(), ExpectedBanner(folder, "16", "7", std::to_string(port)));
    ASSERT_TRUE(Show("in the named folder"));
    EXPECT_EQ(LogFileNames(folder).size(), 1u);
    EXPECT_TRUE(LogFileNames(dir.Path()).empty());
    Quit(server, SIGTERM);
}

TEST_F(CommandLine, PortTextIsReadLikeAtoi) {
    struct Case {
        std::string argument;
        std::string shown;
    };
    // Beyond 65535 the number is shown as given and its low 16 bits are bound.
    std::string wide = std::to_string(port + 65536);
    for (const Case& c : {Case{"abc", "0"}, Case{wide, wide},
                          Case{"  +" + std::to_string(port) + "x", std::to_string(port)},
                          Case{"99999999999", "2147483647"}}) {
        SCOPED_TRACE("port argument '" + c.argument + "'");
        Server run;
        ASSERT_TRUE(run.Start(MakeOptions({c.argument}, dir.Path(), Console::Headless)));
        ASSERT_TRUE(run.WaitForOutput("\nStart listening port:" + c.shown + "...\n\n"));
        if (c.shown != "2147483647") {  // that one binds 65535, which may well be taken here
            EXPECT_EQ(run.Output(), ExpectedBanner(dir.Path(), "2048", "30", c.shown));
        }
        if (c.argument == wide) {
            ASSERT_TRUE(sender.Send(Line("low sixteen bits", '\xe2')));
            EXPECT_TRUE(run.WaitForOutput("low sixteen bits\n"));
        }
        if (run.Running()) Quit(run, SIGTERM);
    }
}

TEST_F(CommandLine, LogFolderLengthLimit) {
    std::string base = dir.Path() + "/";
    // 229 characters is the longest folder whose log file paths fit; it works.
    std::string longest = base + std::string(229 - base.size(), 'd');
    ASSERT_EQ(longest.size(), 229u);
    std::filesystem::create_directory(longest);
    ASSERT_TRUE(Listen(Console::Headless, {longest}));
    ASSERT_TRUE(Show("fits"));
    ASSERT_EQ(LogFileNames(longest).size(), 1u);
    std::string content = ReadLogs(longest);
    EXPECT_EQ(content.substr(content.size() > 5 ? content.size() - 5 : 0), "fits\n");
    Quit(server, SIGTERM);

    // Longer ones are refused before the terminal is touched: a message naming the limit, 255.
    for (size_t length : {230, 255, 256, 300}) {
        SCOPED_TRACE("folder of " + std::to_string(length) + " characters");
        std::string folder = base + std::string(length - base.size(), 'e');
        Server refused;
        ASSERT_NO_FATAL_FAILURE(RunToEnd(
            refused, MakeOptions({std::to_string(port), folder}, dir.Path(), Console::Terminal),
            255));
        std::string out = refused.Output();
        EXPECT_NE(out.find("229"), std::string::npos)
            << "the message does not name the limit: " << out;
        EXPECT_EQ(out.find("\x1b[2J"), std::string::npos) << "the screen was cleared";
        EXPECT_EQ(out.find("UDP Trace logging"), std::string::npos) << out;
    }
}

// A bad option ends the run before anything is set up: one line naming it on standard error, the
// usage text, exit status 2. An empty folder argument means the current folder.
TEST_F(CommandLine, BadOptionExitsTwoAndAnEmptyFolderIsTheCurrentOne) {
    Server refused;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(
        refused, MakeOptions({std::to_string(port), "--no-such-option"}, dir.Path(), Console::Headless),
        2));
    EXPECT_EQ(refused.Errors(), "udptrail: unrecognized option '--no-such-option'\n");
    EXPECT_EQ(refused.Output(), UsageText());

    ASSERT_TRUE(Listen(Console::Headless, {""}));
    ASSERT_TRUE(Show("kept in the current folder"));
    EXPECT_EQ(LogFileNames(dir.Path()).size(), 1u);
    Quit(server, SIGTERM);
}

}  // namespace
