// End-to-end: the usage text, the version, the settings banner and the arguments as the real
// binary reads them.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "e2e/harness.h"

using namespace e2e;

namespace {

// Ends a server that is listening and checks that it went the orderly way.
void StopWithSigterm(Server& server) {
    ASSERT_TRUE(server.Signal(SIGTERM));
    ASSERT_TRUE(server.WaitExit(15)) << "no exit after SIGTERM";
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
}

}  // namespace

TEST(CommandLine, UsageTextWithoutPortOrForHelp) {
    TempDir dir;
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-h"},
                             std::vector<std::string>{"--help"}}) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
        Server server;
        ASSERT_TRUE(
            server.Start(MakeOptions(args, dir.Path(), Stream::Null, Stream::Pipe, Stream::Pipe)));
        ASSERT_TRUE(server.WaitExit(10));
        EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
        EXPECT_EQ(server.Output(), UsageText());
        EXPECT_EQ(server.Errors(), "");
    }
    // On a terminal the usage text comes without clearing the screen first.
    Server server;
    ASSERT_TRUE(server.Start(
        MakeOptions({}, dir.Path(), Stream::Terminal, Stream::Terminal, Stream::Terminal)));
    ASSERT_TRUE(server.WaitExit(10));
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    EXPECT_EQ(server.Output(), UsageText());
    EXPECT_TRUE(LogFileNames(dir.Path()).empty());
}

TEST(CommandLine, VersionNamesTheProgram) {
    TempDir dir;
    Server server;
    ASSERT_TRUE(server.Start(
        MakeOptions({"--version"}, dir.Path(), Stream::Null, Stream::Pipe, Stream::Pipe)));
    ASSERT_TRUE(server.WaitExit(10));
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    std::string out = server.Output();
    std::string expected = std::string("udptrail ") + UDPTRAIL_VERSION;
    EXPECT_EQ(out.substr(0, expected.size()), expected) << out;
    EXPECT_EQ(CountOccurrences(out, "\n"), 1) << out;
    EXPECT_EQ(out.back(), '\n');
}

TEST(CommandLine, OnePortArgumentShowsTheDefaultsExactly) {
    TempDir dir;
    std::string port = std::to_string(FreeUdpPort());
    Server server;
    ASSERT_TRUE(
        server.Start(MakeOptions({port}, dir.Path(), Stream::Null, Stream::Pipe, Stream::Pipe)));
    ASSERT_TRUE(server.WaitForOutput("Start listening port:" + port + "...\n\n"));
    std::string banner = ExpectedBanner(dir.Path(), "2048", "30", port);
    EXPECT_EQ(server.Output(), banner);
    StopWithSigterm(server);
    // Off a terminal nothing but the banner and the closing lines: no clearing, no colours.
    EXPECT_EQ(server.Output(), banner + ClosingLines());
    EXPECT_EQ(server.Errors(), "");
}

TEST(CommandLine, TerminalIsClearedBeforeTheBanner) {
    TempDir dir;
    std::string port = std::to_string(FreeUdpPort());
    Server server;
    ASSERT_TRUE(server.Start(
        MakeOptions({port}, dir.Path(), Stream::Terminal, Stream::Terminal, Stream::Terminal)));
    ASSERT_TRUE(server.WaitForOutput("Start listening port:" + port + "...\n\n"));
    std::string out = server.Output();
    EXPECT_EQ(out.rfind("\x1b[2J\x1b[H", 0), 0u) << "the screen is not cleared first";
    EXPECT_EQ(StripCsi(out), ExpectedBanner(dir.Path(), "2048", "30", port));
    StopWithSigterm(server);
}

TEST(CommandLine, AllArgumentsAreShownAndUsedAndAFifthIsIgnored) {
    TempDir dir;
    std::string folder = dir.Sub("logs");
    std::filesystem::create_directory(folder);
    int port = FreeUdpPort();
    Server server;
    ASSERT_TRUE(server.Start(MakeOptions({std::to_string(port), folder, "16", "7", "extra"},
                                         dir.Path(), Stream::Null, Stream::Pipe, Stream::Pipe)));
    ASSERT_TRUE(server.WaitForOutput("...\n\n"));
    EXPECT_EQ(server.Output(), ExpectedBanner(folder, "16", "7", std::to_string(port)));
    UdpSender sender(port);
    ASSERT_TRUE(sender.Send("\xe7in the named folder\n"));
    ASSERT_TRUE(server.WaitForOutput("in the named folder\n"));
    EXPECT_EQ(LogFileNames(folder).size(), 1u);
    EXPECT_TRUE(LogFileNames(dir.Path()).empty());
    StopWithSigterm(server);
}

TEST(CommandLine, PortTextIsReadLikeAtoi) {
    TempDir dir;
    struct Case {
        std::string argument;
        std::string shown;
    };
    int free = FreeUdpPort();
    // Beyond 65535 the number is shown as given and its low 16 bits are bound.
    std::string wide = std::to_string(free + 65536);
    for (const Case& c : {Case{"abc", "0"}, Case{wide, wide},
                          Case{"  +" + std::to_string(free) + "x", std::to_string(free)},
                          Case{"99999999999", "2147483647"}}) {
        SCOPED_TRACE("port argument '" + c.argument + "'");
        Server server;
        ASSERT_TRUE(server.Start(
            MakeOptions({c.argument}, dir.Path(), Stream::Null, Stream::Pipe, Stream::Pipe)));
        ASSERT_TRUE(server.WaitForOutput("\nStart listening port:" + c.shown + "...\n\n"));
        if (c.shown != "2147483647") {  // that one binds 65535, which may well be taken here
            EXPECT_EQ(server.Output(), ExpectedBanner(dir.Path(), "2048", "30", c.shown));
        }
        if (c.argument == wide) {
            UdpSender sender(free);
            ASSERT_TRUE(sender.Send("\xe2low sixteen bits\n"));
            EXPECT_TRUE(server.WaitForOutput("low sixteen bits\n"));
        }
        if (server.Running()) StopWithSigterm(server);
    }
}

TEST(CommandLine, LogFolderLengthLimit) {
    TempDir dir;
    std::string base = dir.Path() + "/";
    // 229 characters is the longest folder whose log file paths fit; it works.
    std::string longest = base + std::string(229 - base.size(), 'd');
    ASSERT_EQ(longest.size(), 229u);
    std::filesystem::create_directory(longest);
    int port = FreeUdpPort();
    {
        Server server;
        ASSERT_TRUE(server.Start(MakeOptions({std::to_string(port), longest}, dir.Path(),
                                             Stream::Null, Stream::Pipe, Stream::Pipe)));
        ASSERT_TRUE(server.WaitForOutput("...\n\n"));
        UdpSender sender(port);
        ASSERT_TRUE(
            sender.Send("\xe7"
                        "fits\n"));
        ASSERT_TRUE(server.WaitForOutput("fits\n"));
        ASSERT_EQ(LogFileNames(longest).size(), 1u);
        std::string content = ReadLogs(longest);
        EXPECT_EQ(content.substr(content.size() > 5 ? content.size() - 5 : 0), "fits\n");
        StopWithSigterm(server);
    }
    // Longer ones are refused before the terminal is touched: a message naming the limit, 255.
    for (size_t length : {230, 255, 256, 300}) {
        SCOPED_TRACE("folder of " + std::to_string(length) + " characters");
        std::string folder = base + std::string(length - base.size(), 'e');
        Server server;
        ASSERT_TRUE(
            server.Start(MakeOptions({std::to_string(port), folder}, dir.Path(), Stream::Terminal,
                                     Stream::Terminal, Stream::Terminal)));
        ASSERT_TRUE(server.WaitExit(10));
        EXPECT_EQ(server.Status().code, 255) << server.Status().Describe();
        std::string out = server.Output();
        EXPECT_NE(out.find("229"), std::string::npos)
            << "the message does not name the limit: " << out;
        EXPECT_EQ(out.find("\x1b[2J"), std::string::npos) << "the screen was cleared";
        EXPECT_EQ(out.find("UDP Trace logging"), std::string::npos) << out;
    }
}
