// End-to-end fault tests: an unusable or vanishing log folder or file, a full disk, a file-size
// limit, a console reader that goes away, hostile datagrams and a flood far beyond what can be
// written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "support/proc.h"
#include "support/server_test.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

// Every record is a time prefix and exactly one of the texts sent.
void ExpectWholeRecords(const std::string& log, const std::set<std::string>& texts) {
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n') << "the log ends inside a record";
    for (const std::string& record : SplitRecords(log)) {
        EXPECT_TRUE(HasTimePrefix(record) && texts.count(record.substr(8)))
            << "malformed record: \"" << record << "\"";
    }
}

class Faults : public ServerTest {
  protected:
    // Starts `sh -c SCRIPT udptrail PORT FOLDER` (the script sets a limit or a redirection, then
    // runs "$0" "$@") and waits for the listening line.
    bool ListenThroughShell(const std::string& script, const std::string& folder) {
        LaunchOptions options = MakeOptions(
            {"-c", script, ServerBinary(), std::to_string(port), folder}, dir.Path(), Console::Pipes);
        options.program = "/bin/sh";
        return server.Start(options) && server.WaitForOutput("Start listening port:");
    }
};

// A missing log folder is made at start with its parents, as mkdir -p does; one that cannot be
// used ends the run before anything is shown or bound, with one line saying why.
TEST_F(Faults, MissingLogFolderIsMadeAndAnUnusableOneIsRefused) {
    std::string folder = dir.File("made/with/parents");
    mode_t mask = umask(0);  // the server's umask is this process's
    bool listening = Listen(Console::Pipes, {folder});
    umask(mask);
    ASSERT_TRUE(listening);
    for (const std::string& made : {dir.File("made"), folder}) {
        struct stat status;
        ASSERT_EQ(stat(made.c_str(), &status), 0) << made;
        EXPECT_EQ(status.st_mode & 07777, 0755u) << made;
    }
    ASSERT_TRUE(Show("in the made folder"));
    ASSERT_TRUE(WaitForLogs(folder, "in the made folder"));
    Quit(server);

    // A regular file in the way: as root too, it is no folder.
    std::string file = dir.File("plain");
    std::ofstream(file) << "x";
    for (const std::string& unusable : {file, file + "/logs"}) {
        Server refused;
        ASSERT_NO_FATAL_FAILURE(RunToEnd(
            refused, MakeOptions({std::to_string(port), unusable}, dir.Path(), Console::Headless), 1));
        EXPECT_EQ(refused.Errors(), "udptrail: cannot use log folder '" + unusable +
                                        "': Not a directory\n");
        EXPECT_EQ(refused.Output(), "");
    }
}

TEST_F(Faults, ReadOnlyLogFolderIsReportedAndLoggingResumesWhenWritable) {
    std::string folder = dir.File("readonly");
    bool root = geteuid() == 0;
    // A folder that cannot be written is refused at start; one that becomes so is reported per line.
    if (root) {
        // Permission bits do not stop root; a read-only file system does.
        if (!dir.MountTmpfs(folder, 1 << 20, false)) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
    } else {
        std::filesystem::create_directory(folder);
    }
    ASSERT_TRUE(Listen(Console::Pipes, {folder}));
    if (root) {
        ASSERT_TRUE(dir.Remount(folder, true));
    } else {
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    ASSERT_TRUE(Show("not writable"));
    ASSERT_TRUE(server.WaitForErrors("fopen() for " + folder + "/udplog_"));
    const char* reason = root ? "Read-only file system" : "Permission denied";
    EXPECT_NE(server.Errors().find(reason), std::string::npos) << server.Errors();
    Server refused;
    ASSERT_NO_FATAL_FAILURE(RunToEnd(
        refused, MakeOptions({std::to_string(FreeUdpPort()), folder}, dir.Path(), Console::Pipes), 1));
    EXPECT_EQ(refused.Errors(), "udptrail: cannot use log folder '" + folder + "': " + reason + "\n");

    if (root) {
        ASSERT_TRUE(dir.Remount(folder, false));
    } else {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    }
    ASSERT_TRUE(Show("writable again"));
    ASSERT_TRUE(WaitForLogs(folder, "writable again"));
    ExpectWholeRecords(ReadLogs(folder), {"writable again\n"});
    Quit(server);
}

TEST_F(Faults, RemovedLogFolderIsReportedAndLoggingResumesWhenItIsBack) {
    std::string folder = dir.File("vanishing");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Listen(Console::Pipes, {folder}));
    ASSERT_TRUE(Show("first"));
    ASSERT_EQ(LogFileNames(folder).size(), 1u);

    // With the folder gone, the open file has no name left: lines written to it would be lost
    // without a word. The user must be told, and the lines must still be shown.
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    // Sends numbered lines, one every 100 ms, until `done` holds (for 10 s at most).
    int sent = 0;
    auto sendUntil = [&](const std::string& label, const std::function<bool()>& done) {
        sent = 0;
        return WaitUntil(
            [&] {
                sender.Send(Line(label + std::to_string(++sent)));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                return done();
            },
            10);
    };
    bool told = sendUntil("while gone ", [&] {
        return server.Errors().find("fopen() for " + folder + "/udplog_") != std::string::npos;
    });
    EXPECT_TRUE(told) << "lines went on into a file whose folder was removed, with no message";
    ASSERT_TRUE(server.WaitForOutput("while gone " + std::to_string(sent) + "\n"));

    // Once the folder is back, the next lines land in a new file in it.
    std::filesystem::create_directory(folder);
    bool resumed = sendUntil("back ", [&] {
        return !LogFileNames(folder).empty() && ReadLogs(folder).find("back ") != std::string::npos;
    });
    EXPECT_TRUE(resumed) << "logging did not resume in the re-created folder";
    EXPECT_TRUE(server.Running());
    Quit(server);
}

TEST_F(Faults, LinesAfterTheLogFileWasDeletedGoToANewFile) {
    std::string folder = dir.File("logs");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Listen(Console::Pipes, {folder}));
    ASSERT_TRUE(Show("first"));
    ASSERT_EQ(LogFileNames(folder).size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // deleted while the server idles
    std::filesystem::remove(folder + "/" + LogFileNames(folder)[0]);
    for (int i = 1; i <= 200; ++i) ASSERT_TRUE(sender.Send(Line("after " + std::to_string(i))));
    ASSERT_TRUE(server.WaitForOutput("after 200\n"));
    Quit(server);
    EXPECT_EQ(CountOccurrences(ReadLogs(folder), ": after "), 200) << "lines went to the deleted file";
}

// The value of `name=` in the last statistics line of `text`, or -1.
long StatisticsField(const std::string& text, const std::string& name) {
    size_t at = text.rfind(" " + name + "=");
    return at == std::string::npos ? -1 : std::stol(text.substr(at + name.size() + 2));
}

TEST_F(Faults, FileSizeLimitCountsWhatCannotBeStoredAndTearsNoRecord) {
    std::string folder = dir.File("limited");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(ListenThroughShell("ulimit -f 64 && exec \"$0\" \"$@\"", folder));
    const std::string text = "limited " + std::string(90, '.');
    for (int i = 1; i <= 2000; ++i) {
        ASSERT_TRUE(sender.Send(Line(text)));
        if (i % 16 == 0) WaitForQueueBelow(port, 32 * 1024);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the next file's name is free
    const std::string after = "after a second" + std::string(90, '.');  // more than the room left
    ASSERT_TRUE(Show(after));
    Quit(server);  // it survived, and ends as ever

    EXPECT_NE(server.Errors().find("error = File too large"), std::string::npos) << server.Errors();
    long logged = StatisticsField(server.Errors(), "logged");
    EXPECT_GT(StatisticsField(server.Errors(), "not_stored"), 0) << "the limit was never reached";
    EXPECT_EQ(logged + StatisticsField(server.Errors(), "not_stored"), 2001) << server.Errors();
    std::string log = ReadLogs(folder);
    ExpectWholeRecords(log, {text + "\n", after + "\n"});
    EXPECT_EQ(static_cast<long>(SplitRecords(log).size()), logged);
    EXPECT_NE(log.find(": " + after + "\n"), std::string::npos) << "no new file";
}

// With the folder gone every line has its message on standard error; a reader of it that hangs
// must not hold up each line.
TEST_F(Faults, MessagesToAHungStandardErrorHoldNothingUp) {
    ASSERT_TRUE(ListenThroughShell("exec \"$0\" \"$@\" 2>&1", dir.File("gone")));
    std::filesystem::remove_all(dir.File("gone"));
    server.PauseOutputReader();  // the console and standard error
    auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= 1500; ++i) {
        ASSERT_TRUE(sender.Send(Line("missing")));
        if (i % 16 == 0) WaitForQueueBelow(port, 32 * 1024);
    }
    Quit(server, Sigterm);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

// What another user of a shared log folder plants under the names of the coming log files.
struct PlantCase {
    const char* name;
    const char* error;  // the reason the open-failure message must give
};

void PrintTo(const PlantCase& plant, std::ostream* out) { *out << plant.name; }

class PlantedName : public ServerTest, public ::testing::WithParamInterface<PlantCase> {};

TEST_P(PlantedName, IsRefusedAndTheServerGoesOn) {
    std::string folder = dir.File("shared");
    std::string victim = dir.File("victim");
    std::filesystem::create_directory(folder);
    { std::ofstream(victim) << "precious\n"; }
    bool link = std::string(GetParam().name) == "SymbolicLink";
    // Every name of the next 30 seconds, local time as the server names its files.
    time_t now = std::time(nullptr);
    for (time_t t = now - 1; t <= now + 30; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char name[64];
        std::strftime(name, sizeof name, "/udplog_%Y%m%d%H%M%S.log", &local);
        std::string path = folder + name;
        ASSERT_EQ(link ? symlink(victim.c_str(), path.c_str()) : mkfifo(path.c_str(), 0666), 0);
    }
    ASSERT_TRUE(Listen(Console::Pipes, {folder}));
    ASSERT_TRUE(Show("planted"));
    ASSERT_TRUE(server.WaitForErrors("fopen() for " + folder + "/udplog_"));
    EXPECT_NE(server.Errors().find(std::string(", error = ") + GetParam().error + "\n"),
              std::string::npos)
        << server.Errors();
    Quit(server);
    EXPECT_EQ(ReadFile(victim), "precious\n") << "network text went through the planted link";
}

INSTANTIATE_TEST_SUITE_P(Faults, PlantedName,
                         ::testing::Values(PlantCase{"SymbolicLink", "Too many levels of symbolic links"},
                                           PlantCase{"Fifo", "No such device or address"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Faults, ConsoleReaderGoingAwayDoesNotStopTheLogging) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}));
    ASSERT_TRUE(Show("before"));

    server.CloseOutputReader();
    std::set<std::string> texts = {"before\n"};
    for (int i = 1; i <= 50; ++i) {
        std::string text = "after " + std::to_string(i);
        texts.insert(text + "\n");
        ASSERT_TRUE(sender.Send(Line(text)));
    }
    ASSERT_TRUE(WaitForLogs(dir.Path(), "after 50\n"));
    EXPECT_TRUE(server.Running()) << server.Status().Describe();
    Quit(server);  // the closing lines go nowhere; the exit is still orderly
    std::string log = ReadLogs(dir.Path());
    ExpectWholeRecords(log, texts);
    EXPECT_EQ(SplitRecords(log).size(), texts.size());
}

TEST_F(Faults, HostileDatagramsNeitherCrashNorReachTheTerminalNorBreakLaterRecords) {
    ASSERT_TRUE(Listen(Console::Terminal, {dir.Path()}));
    ASSERT_TRUE(server.WaitForKeyMode());
    auto drain = [&] { WaitForQueueBelow(port, 1, 5); };

    std::string escapes;
    for (int i = 0; i < 20; ++i)
        escapes +=
            "\x1b[2J\x1b]0;pwned\x07\x1b"
            "c\x1b[?1049h\x9b"
            "2J\xc2\x9b"
            "2J\xc2\x9d"
            "0;pwned\xc2\x9c";
    std::vector<std::string> hostile = {
        "\xe7" + std::string(65505, 'A') + "\n",  // the largest IPv4 datagram
        std::string(1000, '\0'),
        std::string(1000, '\0') + "\n",
        std::string(1000, '\xff'),
        std::string(999, '\xff') + "\n",
        "\xe7" + escapes + "\n",
        "\xe7" + std::string(500, '\r') + "\n",
        std::string(800, '\r'),
        "\xe7" + std::string(1023, 'B'),  // long, with no line feed
    };
    for (int round = 0; round < 3; ++round) {
        for (const auto& datagram : hostile) {
            ASSERT_TRUE(sender.Send(datagram));
            drain();
        }
    }
    for (int i = 0; i < 5000; ++i) {  // tiny fragments without a line feed
        ASSERT_TRUE(sender.Send("ab", 2));
        if (i % 64 == 0) drain();
    }
    drain();
    // Two full-size lines flush whatever is still gathered, then one plain line must come out
    // whole.
    std::string flush = "\xe7" + std::string(1022, 'z') + "\n";
    ASSERT_TRUE(sender.Send(flush));
    ASSERT_TRUE(sender.Send(flush));
    ASSERT_TRUE(sender.Send(Line("probe after hostile")));
    ASSERT_TRUE(server.WaitForOutput("probe after hostile\x1b[0m\n", 20));
    ASSERT_TRUE(server.Running()) << server.Status().Describe();

    std::string raw = server.RawOutput();
    ExpectNoRawControls(raw, {"\x1b]", "\x1b" "c", "\x1b[?1049h", "\x07", "\xc2\x9b", "\xc2\x9d"});
    EXPECT_EQ(raw.find(std::string(1, '\0')), std::string::npos)
        << "NUL bytes reached the terminal";

    Quit(server);
    std::string log = ReadLogs(dir.Path());
    std::vector<std::string> records = SplitRecords(log);
    ASSERT_GE(records.size(), 2u);
    for (const auto& record : records) {
        EXPECT_TRUE(HasTimePrefix(record))
            << "record without a time prefix: \"" << record.substr(0, 80) << "\"";
    }
    EXPECT_EQ(records.back().substr(6), ": probe after hostile\n");
    EXPECT_EQ(records[records.size() - 2].substr(6), ": " + flush.substr(1));
    for (const char* diagnostic : {"ERROR, ", "WARNING, ", "case:", "fopen()"}) {
        EXPECT_EQ(log.find(diagnostic), std::string::npos)
            << "a console diagnostic reached the log file";
    }
}

// A console reader that hangs (standard output a pipe nobody reads) holds nothing up: not the
// log, not the messages of either thread (a carry-over diagnostic among them), not the way out,
// which ends within 2.5 s.
class HungConsole : public ServerTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(HungConsole, NeitherStopsTheLogNorTheWayOut) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}));
    ASSERT_TRUE(Show("ready"));
    server.PauseOutputReader();
    auto sendNumbered = [&](const char* label, int count) {
        for (int i = 1; i <= count; ++i) {
            char text[96];
            std::snprintf(text, sizeof text, "%s %04d %s", label, i, std::string(72, '.').c_str());
            ASSERT_TRUE(sender.Send(Line(text)));
            if (i % 16 == 0) WaitForQueueBelow(port, 32 * 1024);
        }
    };
    sendNumbered("line", 1000);  // far more than the pipe holds
    ASSERT_TRUE(sender.Send("\xe7" "carry\n" "\xe7" "tail"));  // carried over, with its diagnostic
    sendNumbered("more", 20);
    ASSERT_TRUE(WaitForLogs(dir.Path(), "more 0020", 15)) << "the log stopped";

    auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(AskToEnd(server, GetParam()));
    ASSERT_TRUE(server.WaitExit(5)) << "the way out hangs on the console";
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    EXPECT_LT(seconds, 2.5);
    std::string log = ReadLogs(dir.Path());
    EXPECT_EQ(SplitRecords(log).size(), 1u + 1000 + 1 + 20);
    EXPECT_EQ(CountOccurrences(log, ": line "), 1000);
    EXPECT_NE(log.find(": carry\n"), std::string::npos);

    // Every record is either shown or counted as not shown.
    server.PauseOutputReader(false);
    ASSERT_TRUE(server.WaitExit(5));
    long shown = 0;
    for (const std::string& record : SplitRecords(server.Output())) shown += HasTimePrefix(record);
    EXPECT_EQ(StatisticsField(server.Errors(), "not_shown"), 1022 - shown) << server.Errors();
}

INSTANTIATE_TEST_SUITE_P(Faults, HungConsole, ::testing::Values(QKey, Sigterm));

// How a flood test ends the run, and whether the console is read slowly (a slow terminal), so
// that writing falls far behind for certain.
struct FloodCase {
    WayOut way;
    bool slowConsole;
    const char* name;
};

void PrintTo(const FloodCase& flood, std::ostream* out) { *out << flood.name; }

class Flood : public ServerTest, public ::testing::WithParamInterface<FloodCase> {};

TEST_P(Flood, StaysResponsiveAndEveryLoggedRecordIsWhole) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path()}, GetParam().slowConsole ? 256 * 1024 : 0));
    long rssStart = ProcessRssKb(server.Pid());

    // One sender as fast as it can, bounded in count and time; it goes on until the server ends.
    const long maxDatagrams = 4000000;
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::thread flood([&] {
        char datagram[64];
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        for (long i = 1; i <= maxDatagrams && !stop.load(); ++i) {
            int length = std::snprintf(datagram, sizeof datagram,
                                       "\xe7"
                                       "flood %07ld ..........\n",
                                       i);
            sent.store(i);  // counted before it goes: the server can log it before Send returns
            if (!sender.Send(datagram, static_cast<size_t>(length))) {
                sent.store(i - 1);
                break;
            }
            if ((i & 1023) == 0 && std::chrono::steady_clock::now() > until) break;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    long rssFlooded = ProcessRssKb(server.Pid());
    long kernelDrops = ReadUdpSocketStats(port).drops;

    auto quitAt = std::chrono::steady_clock::now();
    long sentAtQuit = sent.load();
    ASSERT_TRUE(AskToEnd(server, GetParam().way));
    bool ended = WaitUntil(
        [&] {
            UdpSocketStats stats = ReadUdpSocketStats(port);
            if (stats.found) kernelDrops = std::max(kernelDrops, stats.drops);
            return !server.Running();
        },
        10);
    long sentAtExit = sent.load();
    double quitSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - quitAt).count();
    bool floodStillRunning = sentAtExit < maxDatagrams;
    stop = true;
    flood.join();
    if (!ended) {
        bool endedLater = server.WaitExit(30);
        FAIL() << "no exit within 10 s of the request while the flood went on; "
               << (endedLater ? "it ended only after the flood stopped"
                              : "it did not end even after the flood stopped");
    }
    ASSERT_TRUE(server.WaitExit(15));
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
    EXPECT_TRUE(floodStillRunning)
        << "the flood ended before the server; responsiveness was not tested";

    // Every record is a prefix and exactly one sender line, in the order sent, none twice.
    const size_t lineLength = std::strlen("flood 0000000 ..........\n");
    std::string log = ReadLogs(dir.Path());
    std::vector<std::string> records = SplitRecords(log);
    long previous = 0;
    std::erase_if(records, [](const std::string& record) {  // the system's drops, told in the log
        return record.find(": WARNING, ") == 6 && record.find("dropped by the system") != std::string::npos;
    });
    for (const auto& record : records) {
        bool whole = HasTimePrefix(record) && record.size() == 8 + lineLength &&
                     record.compare(8, 6, "flood ") == 0 &&
                     record.compare(21, 12, " ..........\n") == 0;
        ASSERT_TRUE(whole) << "malformed record: \"" << record << "\"";
        long number = std::stol(record.substr(14, 7));
        ASSERT_GT(number, previous) << "out of order or repeated";
        previous = number;
    }

    // Accounting: what the ring dropped is reported in bytes by the full-queue warnings.
    std::string out = server.Output();
    std::regex warning("WARNING, QUEUE FULL ,([0-9]+) LOST UDP PACKET!!!!\n");
    long warnings = 0;
    long lostBytes = 0;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), warning);
         it != std::sregex_iterator(); ++it) {
        ++warnings;
        lostBytes += std::stol((*it)[1]);
    }
    long ringLost = lostBytes / static_cast<long>(lineLength + 1);
    long logged = static_cast<long>(records.size());
    // Datagrams sent after the quit request may still sit in the socket when the server ends.
    std::printf(
        "flood: sent %ld before the quit request, %ld before the exit; logged %ld; reported lost "
        "%ld "
        "lines in %ld warnings; dropped by the kernel at least %ld; unaccounted %ld; quit took "
        "%.2f s; "
        "RSS %ld -> %ld KiB\n",
        sentAtQuit, sentAtExit, logged, ringLost, warnings, kernelDrops,
        sentAtExit - logged - ringLost - kernelDrops, quitSeconds, rssStart, rssFlooded);
    EXPECT_GT(logged, 0);
    EXPECT_LE(logged + ringLost, sentAtExit);
    EXPECT_LT(rssFlooded - rssStart, 64 * 1024) << "memory grew under the flood";
}

INSTANTIATE_TEST_SUITE_P(Faults, Flood,
                         ::testing::Values(FloodCase{QKey, false, "QKey"},
                                           FloodCase{Sigterm, false, "Sigterm"},
                                           FloodCase{QKey, true, "QKeySlowConsole"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Faults, FullDiskNeitherStopsTheConsoleNorLeavesHalfRecords) {
    std::string disk = dir.File("disk");
    if (!dir.MountTmpfs(disk, 64 * 1024, false)) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    ASSERT_TRUE(Listen(Console::Pipes, {disk}));
    std::set<std::string> texts = {"first\n"};
    ASSERT_TRUE(Show("first"));
    ASSERT_TRUE(WaitForLogs(disk, "first\n"));

    // Fill every free block; the open log file keeps only the rest of its last page.
    std::string fillerPath = disk + "/filler";
    int filler = open(fillerPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(filler, 0);
    std::string block(4096, 'f');
    for (size_t chunk : {size_t(4096), size_t(1)}) {
        while (write(filler, block.data(), chunk) == static_cast<ssize_t>(chunk)) {
        }
    }
    close(filler);

    auto sendNumbered = [&](const char* label, int count) {
        for (int i = 1; i <= count; ++i) {
            char text[64];
            std::snprintf(text, sizeof text, "%s %04d ................................", label, i);
            texts.insert(std::string(text) + "\n");
            ASSERT_TRUE(sender.Send(Line(text)));
            if (i % 16 == 0) WaitForQueueBelow(port, 32 * 1024);
        }
    };
    sendNumbered("full", 300);
    ASSERT_TRUE(server.WaitForOutput("full 0300"));
    EXPECT_EQ(CountOccurrences(server.Output(), "full "), 300)
        << "lines were not shown while the disk was full";
    ASSERT_TRUE(server.Running()) << server.Status().Describe();

    std::filesystem::remove(fillerPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // an idle pass or more
    sendNumbered("after", 20);
    ASSERT_TRUE(server.WaitForOutput("after 0020"));
    bool resumed = WaitForLogs(disk, "after 0020");
    Quit(server);

    std::string log = ReadLogs(disk);
    ExpectWholeRecords(log, texts);
    EXPECT_TRUE(resumed) << "logging did not resume when space returned";
    int fullLogged = CountOccurrences(log, ": full ");
    std::printf("disk full: %d of 300 lines logged while full, %d of 20 after\n", fullLogged,
                CountOccurrences(log, ": after "));
    EXPECT_EQ(CountOccurrences(log, ": after "), 20);
}

}  // namespace
