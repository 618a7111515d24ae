// End-to-end: the usage text, the version, the settings banner and the arguments as the real
// binary reads them.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "support/server_test.h"

using namespace testing_support;

namespace {

class CommandLine : public ServerTest {};

TEST_F(CommandLine, UsageTextWithoutPort) {
    Server usage;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(usage, MakeOptions({}, dir.Path(), Console::Headless), 0));
    EXPECT_EQ(usage.Output(), UsageText());
    EXPECT_EQ(usage.Errors(), "");
    // On a terminal the usage text comes without clearing the screen first.
    ASSERT_NO_FATAL_FAILURE(RunToEnd(server, MakeOptions({}, dir.Path(), Console::Terminal), 0));
    EXPECT_EQ(server.Output(), UsageText());
    EXPECT_TRUE(LogFileNames(dir.Path()).empty());
}

TEST_F(CommandLine, HelpListsEveryOption) {
    for (const char* help : {"-h", "--help"}) {
        SCOPED_TRACE(help);
        Server run;
        ASSERT_NO_FATAL_FAILURE(
            RunToEnd(run, MakeOptions({help}, dir.Path(), Console::Headless), 0));
        const std::string out = run.Output();
        EXPECT_EQ(out.rfind("Usage: udptrail [OPTION]... Port [debugFolder", 0), 0u) << out;
        for (const char* option :
             {"-h, --help ", "--version ", "--syslog ", "--rcvbuf=BYTES ", "--sender ", "--ms ",
              "--color=WHEN ", "--colour=WHEN ", "--bind=ADDRESS ", "--forward=URL ",
              "--forward-facility=NAME\n", "--max-total=SIZE ", "--keep-free=SIZE ",
              "--compress ", "SIGUSR1", "Exit status:", "\n  2    "})
            EXPECT_NE(out.find(option), std::string::npos) << option;
        EXPECT_EQ(run.Errors(), "");
    }
}

TEST_F(CommandLine, VersionNamesTheProgramAndTheLicence) {
    ASSERT_NO_FATAL_FAILURE(
        RunToEnd(server, MakeOptions({"--version"}, dir.Path(), Console::Headless), 0));
    std::string out = server.Output();
    std::string expected = std::string("udptrail ") + UDPTRAIL_VERSION + "\n";
    EXPECT_EQ(out.substr(0, expected.size()), expected) << out;
    EXPECT_EQ(CountOccurrences(out, "\n"), 2) << out;
    EXPECT_NE(out.find("MIT"), std::string::npos) << out;
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
    std::string folder = dir.File("logs");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Listen(Console::Headless, {folder, "16", "7", "extra"}));
    EXPECT_EQ(server.Output(), ExpectedBanner(folder, "16", "7", std::to_string(port)));
    ASSERT_TRUE(Show("in the named folder"));
    EXPECT_EQ(LogFileNames(folder).size(), 1u);
    EXPECT_TRUE(LogFileNames(dir.Path()).empty());
    Quit(server, SIGTERM);
}

// A numeric argument that is no valid value ends the run before anything is deleted or bound:
// one line naming it on standard error, the usage text, exit status 2.
TEST_F(CommandLine, BadNumbersAreRefusedBeforeAnythingIsDone) {
    std::string old = dir.File("udplog_20000101000000.log");
    std::ofstream(old) << "kept\n";
    std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() -
                                              std::chrono::hours(24 * 365));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : {
             Case{{std::to_string(port), dir.Path(), "2048", "week"},
                  "udptrail: invalid value 'week' for retentionDays (a whole number of days)\n"},
             Case{{std::to_string(port), dir.Path(), "2M"},
                  "udptrail: invalid value '2M' for logFileSize (a whole number of KiB)\n"},
             Case{{"-p", std::to_string(port)},
                  "udptrail: invalid value '-p' for Port (a whole number from 1 to 65535)\n"},
         }) {
        SCOPED_TRACE(c.message);
        Server refused;
        ASSERT_NO_FATAL_FAILURE(RunToEnd(refused, MakeOptions(c.args, dir.Path(), Console::Headless), 2));
        EXPECT_EQ(refused.Errors(), c.message);
        EXPECT_EQ(refused.Output(), UsageText());
    }
    EXPECT_TRUE(std::filesystem::exists(old)) << "a log file was deleted";
    EXPECT_FALSE(std::filesystem::exists(dir.File(std::to_string(port))));
    EXPECT_TRUE(Listen(Console::Headless, {"", "0", "-1"}));
    Quit(server, SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(old)) << "a retention of -1 deletes every closed file";
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

    // Longer ones are refused before the terminal is touched: a message naming the limit, exit 1.
    for (size_t length : {230, 255, 256, 300}) {
        SCOPED_TRACE("folder of " + std::to_string(length) + " characters");
        std::string folder = base + std::string(length - base.size(), 'e');
        Server refused;
        ASSERT_NO_FATAL_FAILURE(RunToEnd(
            refused, MakeOptions({std::to_string(port), folder}, dir.Path(), Console::Terminal),
            1));
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
    // A name is no address: --bind takes numbers only.
    Server named;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(
        named, MakeOptions({std::to_string(port), "--bind", "localhost"}, dir.Path(), Console::Headless),
        2));
    EXPECT_EQ(named.Errors(), "udptrail: invalid value 'localhost' for option '--bind'\n");
    // A size is bytes with K, M, G or T, and a cap must hold one log file (16 KiB here).
    struct Refusal { std::vector<std::string> args; std::string message; };
    for (const Refusal& c : {Refusal{{"--keep-free=1.5G"}, "invalid value '1.5G' for option '--keep-free'"},
                             Refusal{{"--max-total", "15K", ".", "16"},
                                     "--max-total 15K is smaller than one log file (16 KiB)"}}) {
        Server run;
        std::vector<std::string> args = {std::to_string(port)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_NO_FATAL_FAILURE(RunToEnd(run, MakeOptions(args, dir.Path(), Console::Headless), 2));
        EXPECT_EQ(run.Errors(), "udptrail: " + c.message + "\n");
    }

    ASSERT_TRUE(Listen(Console::Headless, {""}));
    ASSERT_TRUE(Show("kept in the current folder"));
    EXPECT_EQ(LogFileNames(dir.Path()).size(), 1u);
    Quit(server, SIGTERM);
}

// Sends one datagram to ::1; false when this machine has no IPv6 loopback.
bool SendToIpv6Loopback(int toPort, const std::string& datagram) {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(static_cast<uint16_t>(toPort));
    to.sin6_addr = in6addr_loopback;
    ssize_t sent = sendto(fd, datagram.data(), datagram.size(), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

bool HasIpv6Loopback() {
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 at{};
    at.sin6_family = AF_INET6;
    at.sin6_addr = in6addr_loopback;
    bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
    close(fd);
    return bound;
}

// --bind listens on the one address given (the listening line names it); `::` takes IPv4 and IPv6
// alike. An address that is no local one gets the bind error, as a taken port does. With --sender
// an IPv6 sender shows as [::1]:PORT, and an IPv4 one as plain IPv4 on the dual-stack `::` too.
TEST_F(CommandLine, BindListensOnTheAddressGiven) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback on this machine";
    struct Case {
        std::string address;
        bool takesIpv4;
        bool takesIpv6;
    };
    for (const Case& c : {Case{"::1", false, true}, Case{"::", true, true},
                          Case{"127.0.0.1", true, false}}) {
        SCOPED_TRACE("--bind " + c.address);
        int runPort = FreeUdpPort();
        Server run;
        ASSERT_TRUE(run.Start(MakeOptions({std::to_string(runPort), "--bind", c.address, "--sender"},
                                          dir.Path(), Console::Headless)));
        ASSERT_TRUE(run.WaitForOutput("\nStart listening port:" + std::to_string(runPort) + " on " +
                                      c.address + "...\n\n"));
        // The family not listened on is tried first: its line must not show up before the other's.
        UdpSender ipv4(runPort);
        auto sendIpv4 = [&] { return ipv4.Send(Line("over IPv4")); };
        auto sendIpv6 = [&] { return SendToIpv6Loopback(runPort, Line("over IPv6")); };
        ASSERT_TRUE(c.takesIpv4 || sendIpv4());
        ASSERT_TRUE(c.takesIpv6 || sendIpv6());
        ASSERT_TRUE(!c.takesIpv6 || (sendIpv6() && run.WaitForOutput("over IPv6\n")));
        ASSERT_TRUE(!c.takesIpv4 || (sendIpv4() && run.WaitForOutput("over IPv4\n")));
        std::string out = run.Output();
        EXPECT_TRUE(c.takesIpv4 || out.find("over IPv4") == std::string::npos) << out;
        EXPECT_TRUE(c.takesIpv6 || out.find("over IPv6") == std::string::npos) << out;
        EXPECT_TRUE(!c.takesIpv6 || std::regex_search(out, std::regex(": \\[::1\\]:[0-9]+ over IPv6\n")))
            << out;
        EXPECT_TRUE(!c.takesIpv4 || std::regex_search(out, std::regex(": 127\\.0\\.0\\.1:[0-9]+ over IPv4\n")))
            << out;
        Quit(run, SIGTERM);
    }

    // 192.0.2.1 is a documentation address, never one of this machine's (0x63: EADDRNOTAVAIL).
    ASSERT_NO_FATAL_FAILURE(RunToEnd(
        server, MakeOptions({std::to_string(port), "--bind", "192.0.2.1"}, dir.Path(), Console::Headless),
        1));
    std::string banner = DefaultBanner();
    std::string listening = "...\n\n";
    banner.insert(banner.size() - listening.size(), " on 192.0.2.1");
    EXPECT_EQ(server.Output(), banner + "Local Error, can not bind socket error code = 0x63 \r\n");
    EXPECT_EQ(server.Errors(), "udptrail: cannot listen on UDP port " + std::to_string(port) +
                                   ": Cannot assign requested address\n");
}

}  // namespace
