// udptrail-send and udptrail_client.h on the wire, and both against the real server: started
// headless (standard input at end of file), fed lines, stopped by SIGTERM, its log files read.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/server_test.h"
#include "support/wait.h"
#include "udptrail_client.h"

using namespace testing_support;

namespace {

constexpr int kPatienceSeconds = 30;  // generous: the machine is shared

struct Outcome {
    int exitCode;
    std::string out, err;
};

// Runs a program (args[0]) in `folder` to its end, with `input` on its standard input (end of
// file at once when there is none); its exit status is -1 after a signal or when patience ran out.
Outcome RunToEnd(const std::vector<std::string>& args, const std::string& folder,
                 const std::string& input = "") {
    LaunchOptions options = MakeOptions(std::vector<std::string>(args.begin() + 1, args.end()),
                                        folder, input.empty() ? Console::Headless : Console::Pipes);
    options.program = args[0];
    Server child;
    if (!child.Start(options)) return {-1, "", "could not start " + args[0]};
    if (!input.empty()) {
        child.SendKeys(input);
        child.CloseInput();
    }
    child.WaitExit(kPatienceSeconds);
    return {child.Status().code, child.Output(), child.Errors()};
}

// A UDP socket on 127.0.0.1 (or ::1) that stands in for the server and shows the datagrams
// themselves; its port stays 0 when it cannot be bound (no IPv6 loopback).
class Catcher {
  public:
    explicit Catcher(bool ipv6 = false) {
        handle = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        sockaddr* at = ipv6 ? reinterpret_cast<sockaddr*>(&address6)
                            : reinterpret_cast<sockaddr*>(&address);
        socklen_t size = ipv6 ? sizeof address6 : sizeof address;
        if (bind(handle, at, size) == 0 && getsockname(handle, at, &size) == 0)
            port = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
    }
    ~Catcher() { close(handle); }

    /// The next datagram, or "<none>" if none came within the patience.
    std::string Next() {
        pollfd ready{handle, POLLIN, 0};
        if (poll(&ready, 1, kPatienceSeconds * 1000) != 1) return "<none>";
        char buffer[2048];
        ssize_t length = recv(handle, buffer, sizeof buffer, 0);
        return length < 0 ? "<error>" : std::string(buffer, static_cast<size_t>(length));
    }

    std::string Target() const { return "127.0.0.1:" + std::to_string(port); }

    int handle = -1;
    int port = 0;
};

TEST(SenderOnTheWire, EachTextOrInputLineIsOneDatagramWithItsMarker) {
    TempDir folder;
    Catcher catcher;
    ASSERT_NE(catcher.port, 0);

    Outcome run = RunToEnd(
        {UDPTRAIL_SEND_BINARY, "-c", "green-on-blue", catcher.Target(), "boot ok", "-5 degrees"},
        folder.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(), Line("boot ok", '\xF2'));
    EXPECT_EQ(catcher.Next(), Line("-5 degrees", '\xF2'));

    run = RunToEnd({UDPTRAIL_SEND_BINARY, catcher.Target()}, folder.Path(),
                   "first\n\nlast without line feed");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(), Line("first"));
    EXPECT_EQ(catcher.Next(), Line(""));
    EXPECT_EQ(catcher.Next(), Line("last without line feed"));

    run = RunToEnd(
        {UDPTRAIL_SEND_BINARY, "-c", "0xec", "localhost:" + std::to_string(catcher.port), "x"},
        folder.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(), Line("x", '\xEC'));

    Catcher six(true);
    if (six.port == 0) GTEST_SKIP() << "no IPv6 loopback here";
    run = RunToEnd({UDPTRAIL_SEND_BINARY, "[::1]:" + std::to_string(six.port), "over IPv6"},
                   folder.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(six.Next(), Line("over IPv6"));
}

TEST(SenderOnTheWire, BadInputGivesAClearMessageAndItsExitCode) {
    TempDir folder;
    Outcome run =
        RunToEnd({UDPTRAIL_SEND_BINARY, "-c", "purple", "127.0.0.1:5000", "x"}, folder.Path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown colour 'purple'"), std::string::npos) << run.err;

    for (const char* target : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", ":5000"}) {
        run = RunToEnd({UDPTRAIL_SEND_BINARY, target, "x"}, folder.Path());
        EXPECT_EQ(run.exitCode, 2) << target;
        EXPECT_NE(run.err.find(std::string("bad address '") + target + "'"), std::string::npos)
            << run.err;
    }

    run = RunToEnd({UDPTRAIL_SEND_BINARY}, folder.Path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("HOST:PORT is missing"), std::string::npos) << run.err;
    run = RunToEnd({UDPTRAIL_SEND_BINARY, "-x", "127.0.0.1:5000"}, folder.Path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown option '-x'"), std::string::npos) << run.err;

    run = RunToEnd({UDPTRAIL_SEND_BINARY, "-h"}, folder.Path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("Usage: udptrail-send [-c COLOUR] HOST:PORT [TEXT...]\n", 0), 0u)
        << run.out;
}

// Exit codes 1 and 3 (0 and 2 are shown above): a port with nothing listening, even for a single
// line, and a host that has no IPv4 address.
TEST(SenderOnTheWire, APortWithNoListenerOrAnUnresolvableHostIsReported) {
    TempDir folder;
    int port = FreeUdpPort();
    ASSERT_GT(port, 0);
    const std::string target = "127.0.0.1:" + std::to_string(port);
    Outcome run = RunToEnd({UDPTRAIL_SEND_BINARY, target, "one line"}, folder.Path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "udptrail-send: " + target + " refused a line: is udptrail listening there?\n");

    run = RunToEnd({UDPTRAIL_SEND_BINARY, "[::1%nosuchif]:5000", "x"}, folder.Path());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("cannot resolve '::1%nosuchif' to an address"), std::string::npos)
        << run.err;
}

TEST(ClientHeader, SendsFormattedLinesWithTheirMarker) {
    TempDir folder;
    Catcher catcher;
    Outcome run = RunToEnd(
        {UDPTRAIL_CLIENT_EXAMPLE, "127.0.0.1", std::to_string(catcher.port), "50%"}, folder.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(), Line("line 1: 50%", '\xEA'));

    int sender = UdpTrailOpen("127.0.0.1", catcher.port);
    ASSERT_GE(sender, 0);
    EXPECT_EQ(UdpTrailSend(sender, UDPTRAIL_YELLOW | UDPTRAIL_ON_BLUE, "a=%d\nb=%s\n", 1, "two"),
              0);
    EXPECT_EQ(catcher.Next(), Line("a=1", '\xFE'));
    EXPECT_EQ(catcher.Next(), Line("b=two", '\xFE'));
    const std::string longText(2000, 'z');
    EXPECT_EQ(UdpTrailSend(sender, UDPTRAIL_NORMAL, "%s", longText.c_str()), 0);
    EXPECT_EQ(catcher.Next(), Line(longText.substr(0, 1022)));
    UdpTrailClose(sender);

    EXPECT_EQ(UdpTrailOpen("127.0.0.1", 0), -1);
    EXPECT_EQ(UdpTrailOpen("127.0.0.1", 65536), -1);
}

TEST(AgainstTheServer, LinesFromTheSenderAndTheHeaderReachTheLogFile) {
    TempDir folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string logs = folder.File("logs");
    ASSERT_TRUE(std::filesystem::create_directory(logs));

    // Headless, as under the service unit: standard input at end of file, stopped by a signal.
    int port = FreeUdpPort();
    Server server;
    ASSERT_TRUE(server.Start(MakeOptions({std::to_string(port), logs}, folder.Path(),
                                         Console::Headless)));
    WaitUntil([&] { return ReadUdpSocketStats(port).found || !server.Running(); },
              kPatienceSeconds);
    ASSERT_TRUE(ReadUdpSocketStats(port).found)
        << "server did not bind port " << port << "\n" << server.Output();

    const std::string target = "127.0.0.1:" + std::to_string(port);
    Outcome run = RunToEnd(
        {UDPTRAIL_SEND_BINARY, "-c", "red", target, "from the shell", "100% sure"}, folder.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = RunToEnd({UDPTRAIL_SEND_BINARY, target}, folder.Path(), "piped one\npiped two\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = RunToEnd({UDPTRAIL_CLIENT_EXAMPLE, "127.0.0.1", std::to_string(port), "from C"},
                   folder.Path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The longest text the header sends arrives whole, as one record.
    const std::string longest(UDPTRAIL_MAX_TEXT, 'L');
    int sender = UdpTrailOpen("127.0.0.1", port);
    EXPECT_EQ(UdpTrailSend(sender, UDPTRAIL_NORMAL, "%sbeyond", longest.c_str()), 0);
    UdpTrailClose(sender);

    const std::vector<std::string> expected{"from the shell\n", "100% sure\n", "piped one\n",
                                            "piped two\n", "line 1: from C\n", longest + "\n"};
    WaitUntil([&] { return CountOccurrences(ReadLogs(logs), "\n") >= 6; }, kPatienceSeconds);
    EXPECT_TRUE(server.Running()) << "a headless server must run until it is stopped";
    Quit(server, SIGTERM);

    // Each sender's lines arrive in its own order; the three senders ran one after the other.
    std::vector<std::string> texts;
    for (const std::string& record : SplitRecords(ReadLogs(logs))) {
        EXPECT_TRUE(HasTimePrefix(record)) << record;
        texts.push_back(record.substr(std::min<size_t>(8, record.size())));
    }
    EXPECT_EQ(texts, expected);
}

}  // namespace
