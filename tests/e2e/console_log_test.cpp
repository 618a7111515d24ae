// End-to-end: a received line on the console (coloured on a terminal, exact off it) and in the
// log file, control bytes from the network kept away from the terminal, and the console choices
// (--ms, --color, the pause key), and the console never ahead of the log file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/server_test.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

std::string LocalDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

std::set<std::string> SgrParameters(const std::string& parameters) {
    std::set<std::string> values;
    size_t start = 0;
    while (start <= parameters.size()) {
        size_t end = parameters.find(';', start);
        if (end == std::string::npos) end = parameters.size();
        values.insert(parameters.substr(start, end - start));
        start = end + 1;
    }
    return values;
}

// Bytes a hostile sender puts in a line: clear screen, set title, full reset, DEL, a lone CR, SOH.
std::string ControlText() {
    return std::string("a\x1b[2Jb\x1b]0;title\x07") + "c\x1b" + "cd\x7f" + "e\rf\x01" + "g\tz\r\n";
}

class ConsoleAndLog : public ServerTest {};

TEST_F(ConsoleAndLog, ColouredLineOnTheTerminalAndExactInTheLogFile) {
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path()}));
    std::string dateBefore = LocalDate();
    ASSERT_TRUE(Show("boot ok", '\xe2'));
    std::string dateAfter = LocalDate();

    // Marker 0xE2 is green on black: SGR before the prefix, a reset after the text.
    std::smatch match;
    std::string out;
    std::regex green("\x1b\\[([0-9;]*)m([0-9]{6}): boot ok\x1b\\[0m\n");
    ASSERT_TRUE(
        WaitUntil([&] { return std::regex_search(out = server.Output(), match, green); }, 10))
        << out;
    std::set<std::string> parameters = SgrParameters(match[1]);
    EXPECT_TRUE(parameters.count("32")) << match[1];
    EXPECT_FALSE(parameters.count("31") || parameters.count("34") || parameters.count("44"))
        << match[1];
    std::string prefix = match[2];

    // The file is named after the line that opened it and holds exactly the record.
    std::vector<std::string> names = LogFileNames(dir.Path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].substr(15, 6), prefix) << names[0];
    std::string date = names[0].substr(7, 8);
    EXPECT_TRUE(date == dateBefore || date == dateAfter) << names[0];
    EXPECT_EQ(ReadFile(dir.File(names[0])), prefix + ": boot ok\n");

    // Marker 0xFC is light red on blue: red and blue swap places in the terminal's numbering.
    ASSERT_TRUE(sender.Send(Line("alarm", '\xfc')));
    std::regex lightRedOnBlue("\x1b\\[([0-9;]*)m[0-9]{6}: alarm\x1b\\[0m\n");
    ASSERT_TRUE(WaitUntil(
        [&] { return std::regex_search(out = server.Output(), match, lightRedOnBlue); }, 10))
        << out;
    parameters = SgrParameters(match[1]);
    EXPECT_TRUE(parameters.count("91") && parameters.count("44")) << match[1];

    // Without its colours the console shows exactly what the log file holds.
    std::string log = ReadLogs(dir.Path());
    std::vector<std::string> records = SplitRecords(log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].substr(6), ": alarm\n");
    EXPECT_EQ(StripCsi(out.substr(out.find("...\n\n") + 5)), log);
    Quit(server);
}

TEST_F(ConsoleAndLog, ControlBytesFromTheNetworkNeverReachTheTerminalRaw) {
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path()}));
    ASSERT_TRUE(sender.Send("\xe7" + ControlText()));
    ASSERT_TRUE(Show("after"));
    ExpectNoRawControls(server.RawOutput(), {"\x1b]", "\x1b" "c", "\x07", "\x7f", "\x01"});
    // Shown in caret form instead; the line's own CR LF ending stays an ending.
    std::string out = server.Output();
    EXPECT_NE(out.find("a^[[2Jb^[]0;title^Gc^[cd^?e^Mf^Ag\tz\x1b[0m\r\n"), std::string::npos)
        << out;

    // The log file keeps the exact bytes.
    std::vector<std::string> records = SplitRecords(ReadLogs(dir.Path()));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(HasTimePrefix(records[0]));
    EXPECT_EQ(records[0].substr(8), ControlText());
    EXPECT_EQ(records[1].substr(8), "after\n");
    Quit(server);
}

TEST_F(ConsoleAndLog, OffATerminalTheConsoleGetsTheExactRecords) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}));
    const std::vector<std::string> texts = {ControlText(), "100% %s %n %x\n", "plain\n"};
    for (const auto& text : texts) ASSERT_TRUE(sender.Send("\xe4" + text));
    ASSERT_TRUE(server.WaitForOutput("plain\n"));

    // After the banner: nothing but the records, byte for byte, and the same records on disk.
    std::string out = server.Output();
    std::string banner = DefaultBanner();
    ASSERT_EQ(out.substr(0, banner.size()), banner);
    std::string console = out.substr(banner.size());
    std::vector<std::string> records = SplitRecords(console);
    ASSERT_EQ(records.size(), texts.size()) << console;
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_TRUE(HasTimePrefix(records[i])) << records[i];
        EXPECT_EQ(records[i].substr(8), texts[i]);
    }
    EXPECT_EQ(ReadLogs(dir.Path()), console);
    Quit(server);
    EXPECT_EQ(server.Output(), banner + console + ClosingLines());
}

// Lines that carry NUL bytes: no text is hidden, a line behind a NUL is written at once, every
// record ends with a line feed (also a bare line feed's), a NUL run within a line ends a record
// and one that ends a datagram (a C sender's string terminator) ends the line there.
TEST_F(ConsoleAndLog, NulBytesAndBareLineFeedsLeaveEveryRecordWhole) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}));
    const std::vector<std::string> datagrams = {
        "\n", "Xafter\n", std::string("Xcut\0\0kept\n", 12), "Xnext\n",
        std::string("\xe2one\n\0", 6), "\xe3two\n", std::string("\xe2msg 1\0", 7),
        std::string("\xe2msg 2\0", 7), std::string("X\0behind\nXshown at once\n", 24)};
    for (const auto& datagram : datagrams) ASSERT_TRUE(sender.Send(datagram));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "shown at once\n", 5)) << "a NUL hid the line feed";
    const std::vector<std::string> texts = {"\n", "after\n", "cut\n", "kept\n", "next\n", "one\n",
                                            "two\n", "msg 1\n", "msg 2\n", "behind\n", "shown at once\n"};
    std::vector<std::string> records = SplitRecords(ReadLogs(dir.Path()));
    ASSERT_EQ(records.size(), texts.size()) << ReadLogs(dir.Path());
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(records[i].substr(8), texts[i]) << i;
    Quit(server);
}

// Milliseconds since local midnight, now.
long LocalMillisecondOfDay() {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    return ((local.tm_hour * 60L + local.tm_min) * 60 + local.tm_sec) * 1000 + now.tv_usec / 1000;
}

TEST_F(ConsoleAndLog, MillisecondPrefixOnTheConsoleAndInTheLogFile) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--ms"}));
    long before = LocalMillisecondOfDay();
    ASSERT_TRUE(Show("first"));
    long after = LocalMillisecondOfDay();
    ASSERT_TRUE(Show("second"));
    std::string console = server.Output().substr(DefaultBanner().size());
    std::vector<std::string> records = SplitRecords(console);
    ASSERT_EQ(records.size(), 2u) << console;
    const std::regex record("([0-2][0-9])([0-5][0-9])([0-5][0-9])\\.([0-9]{3}): (first|second)\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(records[0], match, record)) << records[0];
    EXPECT_TRUE(std::regex_match(records[1], record)) << records[1];
    // The time of the moment the line was written, to the millisecond (midnight aside).
    long stamped = ((std::stol(match[1]) * 60 + std::stol(match[2])) * 60 + std::stol(match[3])) *
                       1000 + std::stol(match[4]);
    EXPECT_TRUE(after < before || (stamped >= before && stamped <= after)) << records[0];
    EXPECT_EQ(ReadLogs(dir.Path()), console);
    Quit(server);
}

// --sender: two senders interleave the parts of their lines, faster than the receiver takes them
// in; every record is one sender's whole line behind that sender's address, in each sender's
// order, on the console and in the log file alike. Each sender's last line is left unfinished
// and is written whole at the way out.
TEST_F(ConsoleAndLog, SenderAddressAndNoLineMixesTwoSenders) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--sender", "--ms"}));
    UdpSender other(port);
    constexpr int kLines = 40;
    for (int i = 0; i < kLines; ++i) {
        std::string n = std::to_string(i);
        ASSERT_TRUE(sender.Send("\xe7" "alpha " + n + " first half, "));
        ASSERT_TRUE(other.Send("\xe7" "bravo " + n + " first half, "));
        ASSERT_TRUE(sender.Send("alpha " + n + " second half"));
        ASSERT_TRUE(other.Send("bravo " + n + " second half"));
        if (i + 1 == kLines) break;
        ASSERT_TRUE(sender.Send(std::string("\n")));
        ASSERT_TRUE(other.Send(std::string("\n")));
    }
    ASSERT_TRUE(server.WaitForOutput("bravo 38 second half\n"));
    Quit(server);

    std::string log = ReadLogs(dir.Path());
    std::vector<std::string> records = SplitRecords(log);
    ASSERT_EQ(records.size(), 2u * kLines) << log;
    const std::regex record("[0-9]{6}\\.[0-9]{3}: 127\\.0\\.0\\.1:([0-9]+) "
                            "(alpha|bravo) ([0-9]+) first half, (alpha|bravo) ([0-9]+) second half\n");
    int next[2] = {0, 0};
    for (const std::string& line : records) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, record)) << line;
        int who = match[2] == "alpha" ? 0 : 1;
        EXPECT_EQ(std::stoi(match[1]), (who == 0 ? sender : other).LocalPort()) << line;
        EXPECT_EQ(match[4], match[2]) << line;
        EXPECT_EQ(match[5], match[3]) << line;
        EXPECT_EQ(std::stoi(match[3]), next[who]++) << line;
    }
    // The console shows the same records, between the receiver's notes on unfinished chunks.
    std::string shown;
    for (const std::string& line : SplitRecords(server.Output().substr(DefaultBanner().size())))
        if (std::regex_match(line, record)) shown += line;
    EXPECT_EQ(shown, log);
}

// Where the receiver cuts 1,023 bytes without a line feed, no byte is lost: the continuation
// starts with text, and the 1,024th byte of a full datagram is not written over.
TEST_F(ConsoleAndLog, CutLinesLoseNoByte) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}));
    const std::string zeros(1022, '0');
    ASSERT_TRUE(sender.Send("\xec" + zeros));
    ASSERT_TRUE(sender.Send(std::string("REST-OF-LINE\n")));
    ASSERT_TRUE(sender.Send(" " + zeros + "Z"));
    ASSERT_TRUE(server.WaitForOutput(zeros + "\n"));
    Quit(server);

    std::string texts;
    for (const std::string& record : SplitRecords(ReadLogs(dir.Path()))) texts += record.substr(8);
    EXPECT_EQ(texts, zeros + "\nREST-OF-LINE\n" + zeros + "\nZ\n");
}

// NO_COLOR for the runs started while it lives.
class NoColorSet {
  public:
    explicit NoColorSet(const char* value) {
        if (value != nullptr) setenv("NO_COLOR", value, 1);
    }
    ~NoColorSet() { unsetenv("NO_COLOR"); }
};

// --color never and NO_COLOR keep colour codes off a terminal (the escaping stays); --color always
// puts them into a pipe, around the exact text.
TEST_F(ConsoleAndLog, ColourChoiceOnATerminalAndOnAPipe) {
    struct Case {
        Console console;
        std::vector<std::string> args;
        const char* noColor;
        bool coloured;
    };
    for (const Case& c : {Case{Console::Terminal, {"--color=never"}, nullptr, false},
                          Case{Console::Terminal, {}, "1", false},
                          Case{Console::Pipes, {"--colour", "always"}, "1", true}}) {
        SCOPED_TRACE((c.args.empty() ? "NO_COLOR" : c.args[0]) +
                     (c.console == Console::Terminal ? " on a terminal" : " on a pipe"));
        int runPort = FreeUdpPort();
        std::vector<std::string> args = {std::to_string(runPort), dir.Path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Server run;
        {
            NoColorSet noColor(c.noColor);
            ASSERT_TRUE(run.Start(MakeOptions(args, dir.Path(), c.console)));
        }
        ASSERT_TRUE(run.WaitForOutput("port:" + std::to_string(runPort) + "...\n\n"));
        UdpSender to(runPort);
        ASSERT_TRUE(to.Send("\xe2" + ControlText()));
        ASSERT_TRUE(to.Send(Line("after", '\xe2')));
        ASSERT_TRUE(run.WaitForOutput("after"));
        std::string out = run.Output();
        std::string records = out.substr(out.find("...\n\n") + 5);
        if (c.coloured) {
            EXPECT_NE(records.find("\x1b[32;40m"), std::string::npos) << records;
            EXPECT_NE(records.find(ControlText().substr(0, 10)), std::string::npos)
                << "off a terminal the text is not escaped: " << records;
        } else {
            EXPECT_EQ(StripCsi(records), records) << "no colour codes";
            EXPECT_NE(records.find("a^[[2Jb"), std::string::npos) << records;
        }
        Quit(run);
    }
}

// The keys on a terminal: s shows the statistics, space pauses and shows what it held on
// resuming, / filters live (typing, Backspace, Enter, Esc, an empty line), and --highlight.
TEST_F(ConsoleAndLog, KeysPauseFilterAndShowStatisticsAndHighlightsShow) {
    const std::string paused = "-- paused: the log file keeps every line; space resumes --";
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path(), "--highlight", "warn", "--highlight", "warns"}));
    ASSERT_TRUE(server.WaitForKeyMode());
    ASSERT_TRUE(Show("before"));
    ASSERT_TRUE(server.SendKeys("s"));
    ASSERT_TRUE(server.WaitForOutput("udptrail stats: received=1 "));
    ASSERT_TRUE(WaitUntil([&] { return StripCsi(server.Output()).find("uptime_s=") != std::string::npos; }, 10));
    EXPECT_EQ(server.Output().find("filtered="), std::string::npos) << "no filter, no field";

    ASSERT_TRUE(server.SendKeys(" "));
    ASSERT_TRUE(server.WaitForOutput(paused));
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(sender.Send(Line("held " + std::to_string(i))));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "held 3\n"));
    EXPECT_EQ(server.Output().find("held"), std::string::npos) << "nothing shown while paused";
    ASSERT_TRUE(server.SendKeys(" "));
    ASSERT_TRUE(server.WaitForOutput("held 3"));
    std::string out = StripCsi(server.Output());
    EXPECT_LT(out.find("held 1"), out.find("held 2"));
    EXPECT_EQ(out.find("not shown here"), std::string::npos) << out;
    EXPECT_EQ(CountOccurrences(out, paused + "\n"), 1) << out;

    // While the prompt is open, lines go on being shown above it.
    ASSERT_TRUE(server.SendKeys("/board AX\x7f"));
    ASSERT_TRUE(server.WaitForOutput("filter: board A"));
    ASSERT_TRUE(Show("board B early"));
    ASSERT_TRUE(WaitUntil([&] {
        out = server.Output();
        return out.rfind("filter: board A") > out.find("board B early");
    }, 10)) << out;
    ASSERT_TRUE(server.SendKeys("\r"));
    ASSERT_TRUE(server.WaitForOutput(
        "-- showing lines matching 'board A' (the log file keeps every line) --\n"));
    EXPECT_NE(server.Output().find("\r" + std::string(15, ' ') + "\r"), std::string::npos)
        << "the prompt is erased before anything is written below it";
    ASSERT_TRUE(server.SendKeys("s"));
    ASSERT_TRUE(server.WaitForOutput(" filtered=0"));  // a filter in use, nothing hidden yet
    ASSERT_TRUE(sender.Send(Line("board B hidden")));
    ASSERT_TRUE(sender.Send(Line("board A warns")));
    ASSERT_TRUE(server.WaitForOutput("board A \x1b[7mwarns\x1b[27m"));  // the longer match
    ASSERT_TRUE(server.SendKeys("s"));
    ASSERT_TRUE(server.WaitForOutput(" filtered=1"));
    // Esc changes nothing; an empty line removes the live filter.
    ASSERT_TRUE(server.SendKeys("/x\x1b/\r"));
    ASSERT_TRUE(server.WaitForOutput("-- showing every line --\n"));
    ASSERT_TRUE(Show("board C after"));
    out = server.Output();
    EXPECT_EQ(out.find("board B hidden"), std::string::npos) << out;
    EXPECT_EQ(CountOccurrences(out, "-- showing"), 2) << out;
    EXPECT_EQ(CountOccurrences(ReadLogs(dir.Path()), "board"), 4) << "the log file keeps every line";

    // q still quits while the console is paused.
    ASSERT_TRUE(server.SendKeys(" "));
    ASSERT_TRUE(WaitUntil([&] { return CountOccurrences(server.Output(), paused) == 2; }, 10));
    Quit(server);
}

}  // namespace

// A sender that never pauses for a poll interval still gets its log split at the size limit.
TEST_F(ConsoleAndLog, ASteadyStreamStillRotatesTheLogFile) {
    ASSERT_TRUE(Listen(Console::Headless, {dir.Path(), "1"}));  // 1 KB files
    // About three seconds of one line per millisecond: file names change once a second, and a
    // file over the limit is closed while the stream goes on.
    const std::string text(60, 'x');
    int sent = 0;
    struct timespec pause = {0, 1000000};
    for (time_t end = time(nullptr) + 3; time(nullptr) < end; ++sent) {
        ASSERT_TRUE(sender.Send(Line(text)));
        nanosleep(&pause, nullptr);
    }
    ASSERT_TRUE(sender.Send(Line("last")));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "last\n"));
    EXPECT_GE(LogFileNames(dir.Path()).size(), 3u) << sent << " lines sent";
    Quit(server, Sigterm);
}

// A line on the console is always already in the log file: a reader of the console looks each
// line up in the file as soon as it reads it, while bursts keep the server writing.
TEST_F(ConsoleAndLog, EveryLineOnTheConsoleIsAlreadyInTheLogFile) {
    const std::string console = dir.File("console");
    ASSERT_EQ(mkfifo(console.c_str(), 0600), 0);
    const std::string folder = dir.File("logs");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    LaunchOptions options = MakeOptions({"-c", "exec \"$0\" \"$@\" > '" + console + "'", ServerBinary(),
                                         std::to_string(port), folder},
                                        dir.Path(), Console::Pipes);
    options.program = "/bin/sh";
    ASSERT_TRUE(server.Start(options));
    const int fd = open(console.c_str(), O_RDONLY);  // the server's standard output
    ASSERT_GE(fd, 0);
    constexpr int kLines = 2000;
    std::thread bursts;
    std::string pending;
    int checked = 0;
    std::vector<std::string> missing;
    // A slow reader makes the console skip lines (counted, never shown): the look ends once every
    // line was sent and the console has said nothing more for a second.
    std::atomic<bool> allSent{false};
    auto lastBytes = std::chrono::steady_clock::now();
    for (auto until = lastBytes + std::chrono::seconds(30);
         checked < kLines && std::chrono::steady_clock::now() < until &&
         !(allSent && std::chrono::steady_clock::now() - lastBytes > std::chrono::seconds(1));) {
        pollfd readable = {fd, POLLIN, 0};
        char bytes[65536];
        ssize_t got = poll(&readable, 1, 100) > 0 ? read(fd, bytes, sizeof bytes) : 0;
        if (got < 0) break;
        if (got > 0) lastBytes = std::chrono::steady_clock::now();
        pending.append(bytes, static_cast<size_t>(got));
        if (!bursts.joinable() && pending.find("Start listening port:") != std::string::npos) {
            bursts = std::thread([this, &allSent] {
                for (int i = 1; i <= kLines; ++i) {
                    sender.Send(Line("check " + std::to_string(i) + " " + std::string(60, '.')));
                    if (i % 64 == 0) WaitForQueueBelow(port, 32 * 1024);
                }
                allSent = true;
            });
        }
        size_t end = pending.rfind('\n');
        if (end == std::string::npos || pending.find(": check ") == std::string::npos) continue;
        const std::string logged = ReadLogs(folder);  // read before the lines are looked up
        for (size_t at = pending.find(": check "); at < end; at = pending.find(": check ", at + 1)) {
            size_t lineStart = pending.rfind('\n', at);
            lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
            std::string line = pending.substr(lineStart, pending.find('\n', at) + 1 - lineStart);
            if (logged.find(line) == std::string::npos) missing.push_back(line);
            ++checked;
        }
        pending.erase(0, end + 1);
    }
    if (bursts.joinable()) bursts.join();
    close(fd);
    Quit(server, Sigterm);
    EXPECT_GT(checked, kLines / 4);
    EXPECT_TRUE(missing.empty()) << missing.size() << " lines on the console before the log file, "
                                 << "the first: " << missing[0];
}

// With size 0 and retention 0, each file closed under a steady stream goes at the next clean-up.
TEST_F(ConsoleAndLog, ASteadyStreamWithRetentionZeroLeavesNoClosedFileBehind) {
    ASSERT_TRUE(Listen(Console::Headless, {dir.Path(), "0", "0"}));
    struct timespec pause = {0, 4000000};
    for (time_t end = time(nullptr) + 5; time(nullptr) < end;) {
        ASSERT_TRUE(sender.Send(Line("streamed")));
        nanosleep(&pause, nullptr);
    }
    // Left: the open file, and those closed since the last pass (at most a second ago).
    EXPECT_LE(LogFileNames(dir.Path()).size(), 3u);
    Quit(server, Sigterm);
}
