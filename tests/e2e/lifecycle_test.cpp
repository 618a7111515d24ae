// End-to-end: keys, signals, end of input, the terminal mode, job control, closed standard
// descriptors, a burst followed at once by the way out, and a port that is already taken.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "support/wait.h"
#include "support/proc.h"
#include "support/server_test.h"

using namespace testing_support;

namespace {

// Ends the server the given way and checks that it went the orderly way: exit status 0, the
// closing lines last, and a terminal left in the mode it was found in.
void EndOrderly(Server& server, int signalNumber = QKey) {
    ASSERT_NO_FATAL_FAILURE(Quit(server, signalNumber));
    std::string out = server.Output();  // on a terminal no statistics line follows
    std::string closing = ClosingLines();
    ASSERT_GE(out.size(), closing.size());
    EXPECT_EQ(out.substr(out.size() - closing.size()), closing)
        << "the output does not end with the closing lines";
    if (server.TerminalFd() < 0) return;
    termios after{};
    ASSERT_EQ(tcgetattr(server.TerminalFd(), &after), 0);
    EXPECT_EQ(CompareTermios(server.InitialTerminalMode(), after), "")
        << "terminal mode not restored";
}

class Lifecycle : public ServerTest {};

TEST_F(Lifecycle, OnlyLowerCaseQQuitsAndTheTerminalIsLeftAsFound) {
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path()}));
    ASSERT_TRUE(server.WaitForKeyMode());
    ASSERT_TRUE(server.SendKeys("Qx\r\x1b" "A"));  // a space is the pause key
    // The loop looks at the keyboard every 10 ms; give it many passes to act on a wrong key.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(Show("still running"));
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(server.Output().find("Qx"), std::string::npos) << "keys were echoed";
    EndOrderly(server);
}

// Runs the server from a shell script with job control (bash -m), so that it has a process group
// of its own on the terminal as under an interactive shell: "$@" in the script is the server and
// its arguments.
LaunchOptions UnderJobControl(const std::string& script, int port, const std::string& folder) {
    LaunchOptions options =
        MakeOptions({"-m", "-c", script, ServerBinary(), std::to_string(port), folder}, folder,
                    Console::Terminal);
    options.program = "/bin/bash";
    return options;
}

std::string TerminalChanges(Server& terminalOwner) {
    termios now{};
    if (tcgetattr(terminalOwner.TerminalFd(), &now) != 0) return "tcgetattr failed";
    return CompareTermios(terminalOwner.InitialTerminalMode(), now);
}

class StopSignal : public ServerTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, EndsLikeQAndRestoresTheTerminal) {
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path()}));
    ASSERT_TRUE(server.WaitForKeyMode());
    ASSERT_TRUE(Show("before the signal", '\xe3'));
    EndOrderly(server, GetParam());
    EXPECT_EQ(SplitRecords(ReadLogs(dir.Path())).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, StopSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

class CrashSignal : public ServerTest, public ::testing::WithParamInterface<int> {};

TEST_P(CrashSignal, RestoresTheTerminalAndStillEndsTheProcess) {
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path()}));
    ASSERT_TRUE(server.WaitForKeyMode());
    ASSERT_EQ(kill(server.Pid(), GetParam()), 0);
    ASSERT_TRUE(server.WaitExit(10));
    EXPECT_EQ(server.Status().signal, GetParam()) << server.Status().Describe();
    EXPECT_EQ(TerminalChanges(server), "") << "terminal mode not restored";
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, CrashSignal, ::testing::Values(SIGSEGV, SIGABRT),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(Lifecycle, StartedInTheBackgroundItLogsAndLeavesTheTerminalAlone) {
    // As `udptrail PORT DIR &` from an interactive shell: the server's process group is not the
    // terminal's foreground group, and changing the mode from there would stop it.
    ASSERT_TRUE(server.Start(
        UnderJobControl("\"$0\" \"$@\" & echo \"pid=$!\"; wait $!", port, dir.Path())));
    ASSERT_TRUE(server.WaitForOutput("Start listening port:" + std::to_string(port) + "...\n\n"));
    std::smatch found;
    std::string out = server.Output();
    ASSERT_TRUE(std::regex_search(out, found, std::regex("pid=([0-9]+)\n"))) << out;
    pid_t background = std::stoi(found[1]);

    bool shown = Show("logged from the background");
    bool logged = shown && WaitForLogs(dir.Path(), "logged from the background\n");
    EXPECT_EQ(TerminalChanges(server), "") << "a background process changed the terminal mode";
    ASSERT_TRUE(WaitUntil([&] { return ProcessCatchesSignal(background, SIGTERM); }, 10));
    ASSERT_EQ(kill(background, SIGTERM), 0);
    ASSERT_TRUE(server.WaitExit(15)) << "no exit after SIGTERM";
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    EXPECT_TRUE(shown && logged);
}

TEST_F(Lifecycle, CtrlZRestoresTheTerminalAndFgSetsTheKeyModeAgain) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer defers signals and does not carry out the default action of the stop signal
    // that the handler raises again, so the process would never stop.
    GTEST_SKIP() << "job control stops do not happen under ThreadSanitizer";
#endif
    ASSERT_TRUE(server.Start(UnderJobControl(
        "\"$0\" \"$@\"; echo \"stopped with $?\"; read -r line; fg", port, dir.Path())));
    ASSERT_TRUE(server.WaitForKeyMode());
    ASSERT_TRUE(Show("before the stop"));

    ASSERT_TRUE(server.SendKeys("\x1a"));  // Ctrl+Z
    ASSERT_TRUE(server.WaitForOutput("stopped with 148"));
    EXPECT_EQ(TerminalChanges(server), "") << "the terminal was left in key mode at the stop";

    ASSERT_TRUE(server.SendKeys("\n"));  // the script goes on: fg
    ASSERT_TRUE(server.WaitForKeyMode());
    ASSERT_TRUE(Show("after fg"));
    ASSERT_NO_FATAL_FAILURE(EndOrderly(server));  // q, without Enter
    EXPECT_EQ(SplitRecords(ReadLogs(dir.Path())).size(), 2u);
}

TEST_F(Lifecycle, ClosedStandardDescriptorsAreNeitherReusedNorReadAsKeys) {
    // Started with standard input, output and error closed, as `udptrail PORT DIR <&- >&- 2>&-`.
    LaunchOptions options = MakeOptions(
        {"-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", ServerBinary(), std::to_string(port), dir.Path()},
        dir.Path(), Console::Pipes);
    options.program = "/bin/sh";
    ASSERT_TRUE(server.Start(options));
    ASSERT_TRUE(WaitUntil([&] { return ReadUdpSocketStats(port).found; }, 10));

    // A socket that took standard input's place would be read by the key reader: a datagram
    // starting with q would end the server, and bytes of others would be lost.
    ASSERT_TRUE(sender.Send("quit, says anyone on the network\n"));
    for (int i = 1; i <= 200; ++i) ASSERT_TRUE(sender.Send(Line("closed " + std::to_string(i))));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "closed 200\n"));
    EXPECT_TRUE(server.Running()) << server.Status().Describe();
    EXPECT_EQ(SplitRecords(ReadLogs(dir.Path())).size(), 201u);
    Quit(server, SIGTERM);
}

TEST_F(Lifecycle, QByteOnPipedInputQuits) {
    ASSERT_TRUE(Listen(Console::Pipes));
    ASSERT_TRUE(server.SendKeys("xQ\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(server.Running());
    EndOrderly(server);
    EXPECT_EQ(server.Output(), DefaultBanner() + ClosingLines());
}

TEST_F(Lifecycle, AtEndOfInputItKeepsRunningWithoutBurningCpu) {
    Server& fromNull = server;
    Server fromClosedPipe;
    ASSERT_TRUE(Listen(Console::Headless));
    ASSERT_TRUE(fromClosedPipe.Start(
        MakeOptions({std::to_string(FreeUdpPort())}, dir.Path(), Console::Pipes)));
    ASSERT_TRUE(fromClosedPipe.WaitForOutput("...\n\n"));
    fromClosedPipe.SendKeys("x");
    fromClosedPipe.CloseInput();

    // A loop spinning on a readable end of file would use most of a core.
    double nullBefore = ProcessCpuSeconds(fromNull.Pid());
    double pipeBefore = ProcessCpuSeconds(fromClosedPipe.Pid());
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double nullUsed = ProcessCpuSeconds(fromNull.Pid()) - nullBefore;
    double pipeUsed = ProcessCpuSeconds(fromClosedPipe.Pid()) - pipeBefore;
    std::printf("idle CPU over %.2f s: /dev/null input %.3f s, closed pipe input %.3f s\n", wall,
                nullUsed, pipeUsed);
    EXPECT_LT(nullUsed, 0.25 * wall);
    EXPECT_LT(pipeUsed, 0.25 * wall);

    // Still at work, and a signal ends it the orderly way.
    ASSERT_TRUE(Show("after end of input"));
    ASSERT_TRUE(fromClosedPipe.Running());
    EndOrderly(fromNull, SIGTERM);
    EndOrderly(fromClosedPipe, SIGTERM);
}

class BurstThenQuit : public ServerTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(BurstThenQuit, EveryLineSentBeforeTheEndIsLogged) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}));

    // Numbered lines of varied length, cut into datagrams at arbitrary places, so that lines
    // straddle datagrams; the very last line has no line feed yet and comes in datagrams of its
    // own, so the receiver still holds it at the stop and it is in the ring while the way out
    // drains it.
    const int lineCount = 3000;
    std::string stream;
    std::vector<std::string> expected;
    for (int i = 1; i <= lineCount; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "burst %05d %.*s", i, i % 37,
                      "....................................");
        expected.push_back(std::string(text) + "\n");
        stream += "\xe7" + std::string(text) + (i < lineCount ? "\n" : "");
    }
    uint32_t seed = 12345;
    size_t at = 0;
    int datagrams = 0;
    while (at < stream.size()) {
        seed = seed * 1103515245 + 12345;
        size_t size = 1 + (seed >> 16) % 240;
        const size_t tail = stream.rfind('\n') + 1;
        size = std::min(size, (at < tail ? tail : stream.size()) - at);
        ASSERT_TRUE(sender.Send(stream.data() + at, size));
        at += size;
        // Keep the kernel's receive queue well below its limit, so what is tested is the server.
        if (++datagrams % 16 == 0) WaitForQueueBelow(port, 64 * 1024);
    }
    ASSERT_TRUE(AskToEnd(server, GetParam()));
    UdpSocketStats stats = ReadUdpSocketStats(port);
    // Lines still in hand when the way out begins may follow the closing lines.
    ASSERT_TRUE(server.WaitExit(15)) << "the server did not end";
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    EXPECT_EQ(CountOccurrences(server.Output(), ClosingLines()), 1);
    ASSERT_EQ(stats.drops, 0) << "the kernel dropped datagrams: the test's pacing is too loose";

    std::vector<std::string> records = SplitRecords(ReadLogs(dir.Path()));
    std::printf("%d datagrams, %zu of %d lines logged\n", datagrams, records.size(), lineCount);
    ASSERT_EQ(records.size(), expected.size()) << "lines were lost on the way out";
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_TRUE(HasTimePrefix(records[i])) << records[i];
        ASSERT_EQ(records[i].substr(8), expected[i]) << "record " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, BurstThenQuit, ::testing::Values(QKey, Sigterm),
                         [](const auto& info) { return info.param == QKey ? "QKey" : "Sigterm"; });

// Standard error a full pipe nobody reads, the console a pipe nobody reads: the way out still
// ends within 2.5 s, with every line in the log file.
TEST_F(Lifecycle, AFullStandardErrorPipeDoesNotHoldTheWayOut) {
    std::string fifo = dir.File("errors.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int fullErrors = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fullErrors, 0);
    const std::string block(4096, 'e');
    while (write(fullErrors, block.data(), block.size()) > 0) {
    }
    LaunchOptions options = MakeOptions({}, dir.Path(), Console::Pipes);
    options.program = "/bin/sh";
    options.args = {"-c", "exec \"$0\" \"$1\" \"$2\" 2<>\"$3\"", ServerBinary(),
                    std::to_string(port), dir.Path(), fifo};
    ASSERT_TRUE(server.Start(options));
    ASSERT_TRUE(server.WaitForOutput("Start listening port:" + std::to_string(port) + "...\n\n"));
    server.PauseOutputReader();
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(sender.Send(Line("line " + std::to_string(i) + std::string(60, '.'))));
        if (i % 16 == 0) WaitForQueueBelow(port, 32 * 1024);
    }
    ASSERT_TRUE(WaitForLogs(dir.Path(), "line 1999", 15));
    auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(AskToEnd(server, SIGTERM));
    ASSERT_TRUE(server.WaitExit(10));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count(), 2.5);
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    EXPECT_EQ(SplitRecords(ReadLogs(dir.Path())).size(), 2000u);
    close(fullErrors);
}

TEST_F(Lifecycle, PortAlreadyInUseEndsWithTheBindMessageAndStatusOne) {
    PortBlocker blocker(port);
    ASSERT_TRUE(blocker.Bound());
    ASSERT_NO_FATAL_FAILURE(
        RunToEnd(server, MakeOptions({std::to_string(port)}, dir.Path(), Console::Headless), 1));
    // 0x62 is EADDRINUSE; nothing follows the message, not even the closing lines.
    EXPECT_EQ(server.Output(),
              DefaultBanner() + "Local Error, can not bind socket error code = 0x62 \r\n");
    EXPECT_EQ(server.Errors(), "udptrail: cannot listen on UDP port " + std::to_string(port) +
                                   ": Address already in use\n");
}

}  // namespace
