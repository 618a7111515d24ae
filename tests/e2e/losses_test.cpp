// End-to-end accounting of losses: every line of a flood is either logged or counted as lost in
// the closing statistics line, the system's drops are reported as they happen, and asking for the
// statistics changes nothing in the log.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "support/server_test.h"
#include "support/expected_text.h"
#include "support/files.h"
#include "support/process_pty.h"
#include "support/proc.h"
#include "support/udp.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

// The statistics line's fields by name; empty when `text` holds no such line.
std::map<std::string, long> LastStatistics(const std::string& text) {
    static const std::regex line(
        "udptrail stats: received=[0-9]+ bytes=[0-9]+ logged=[0-9]+ dropped_system=[0-9]+ "
        "dropped_queue=[0-9]+ truncated=[0-9]+ not_stored=[0-9]+ not_shown=[0-9]+ rotated=[0-9]+ "
        "deleted=[0-9]+ uptime_s=[0-9]+\n");
    static const std::regex field("([a-z_]+)=([0-9]+)");
    std::map<std::string, long> values;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        std::string found = it->str();
        values.clear();
        for (auto f = std::sregex_iterator(found.begin(), found.end(), field); f != std::sregex_iterator(); ++f)
            values[(*f)[1]] = std::stol((*f)[2]);
    }
    return values;
}

// Sum of N over the drop warnings "WARNING, N datagrams dropped by the system ..." in `text`.
long WarnedDrops(const std::string& text) {
    static const std::regex warning(
        "WARNING, ([0-9]+) datagrams dropped by the system before they could be read \\(receive "
        "buffer full\\)\n");
    long total = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), warning); it != std::sregex_iterator(); ++it)
        total += std::stol((*it)[1]);
    return total;
}

class Losses : public ServerTest {};

// A flood of numbered lines, one per datagram, into a small receive buffer; the server is frozen
// for a moment in the middle (the system then drops) and asked for its statistics now and then.
TEST_F(Losses, EveryLineSentIsLoggedOrCountedAsLost) {
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--rcvbuf", "65536"}));
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::thread flood([&] {
        char datagram[32];
        for (long i = 1; !stop.load(); ++i) {
            int length = std::snprintf(datagram, sizeof datagram, "\xe7" "n%07ld\n", i);
            if (!sender.Send(datagram, static_cast<size_t>(length))) break;
            sent.store(i);
        }
    });
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(server.Signal(SIGUSR1));
    }
    ASSERT_TRUE(server.Signal(SIGSTOP));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(server.Signal(SIGCONT));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    flood.join();
    // Whatever is still waiting in the socket is read before the stop.
    WaitUntil([&] { return ReadUdpSocketStats(port).receiveQueueBytes == 0; }, 5);
    long kernelDrops = ReadUdpSocketStats(port).drops;
    EXPECT_TRUE(server.WaitForOutput("datagrams dropped by the system")) << "no drop warning";
    Quit(server, SIGTERM);

    std::map<std::string, long> stats = LastStatistics(server.Errors());
    ASSERT_FALSE(stats.empty()) << "no statistics line on standard error:\n" << server.Errors();
    EXPECT_NE(LastStatistics(server.Output()).size(), 0u) << "SIGUSR1 showed no statistics";
    std::string log = ReadLogs(dir.Path());
    long records = 0;
    long previous = 0;
    for (const std::string& record : SplitRecords(log)) {
        if (record.compare(8, 9, "WARNING, ") == 0) continue;
        ASSERT_TRUE(HasTimePrefix(record) && record.size() == 8 + 9 && record[8] == 'n')
            << "not a whole record: \"" << record << "\"";
        long number = std::stol(record.substr(9, 7));
        ASSERT_GT(number, previous) << "out of order or repeated";
        previous = number;
        ++records;
    }
    std::printf("flood: sent %ld, logged %ld, dropped by the system %ld (kernel says %ld), by the "
                "queue %ld, not stored %ld, not shown %ld\n",
                sent.load(), stats["logged"], stats["dropped_system"], kernelDrops,
                stats["dropped_queue"], stats["not_stored"], stats["not_shown"]);
    EXPECT_EQ(stats["logged"] + stats["dropped_system"] + stats["dropped_queue"], sent.load());
    EXPECT_EQ(stats["received"], stats["logged"] + stats["dropped_queue"]);
    EXPECT_EQ(stats["logged"], records);
    EXPECT_EQ(stats["dropped_system"], kernelDrops);
    EXPECT_GT(stats["dropped_system"], 0) << "the freeze provoked no drop";
    EXPECT_EQ(WarnedDrops(log), stats["dropped_system"]) << "the log tells of every drop";
    EXPECT_EQ(log.find("udptrail stats"), std::string::npos) << "statistics reached the log";
}

}  // namespace
