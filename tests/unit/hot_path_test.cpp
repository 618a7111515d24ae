// The per-line path under load: no lost wake-up between the two threads, a burst that outruns the
// writer for a moment loses nothing, and a lagging console never holds the writer up. That nothing
// is allocated or locked per line is tested in alloc/, in a process of its own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "control/log_settings.h"
#include "intake/intake_counters.h"
#include "intake/packet_queue.h"
#include "intake/receive_gatherer.h"
#include "intake/receiver.h"
#include "output/debug_ui.h"
#include "output/line_assembler.h"
#include "output/writer_sink.h"
#include "platform/console.h"
#include "platform/event.h"
#include "platform/udp_socket.h"
#include "support/intake.h"
#include "support/quiet_writer.h"

namespace {

// Counts the records "HHMMSS: " + text that carry each numbered text "n<k>".
int CountNumberedRecords(const std::string& log, int expected) {
    int found = 0;
    size_t at = 0;
    for (int k = 0; k < expected; ++k) {
        std::string needle = ": n" + std::to_string(k) + " ";
        size_t hit = log.find(needle, at);
        if (hit == std::string::npos) break;
        at = hit + needle.size();
        ++found;
    }
    return found;
}

using testing_support::QuietWriter;

class HotPath : public testing_support::RingTest {};

// The consumer waits only after announcing it; a producer racing with that announcement must
// either signal or be seen. A lost wake-up shows as a wait that times out with entries queued.
TEST_F(HotPath, NoWakeUpIsLostBetweenPushAndWait) {
    constexpr int kChunks = 200000;
    std::thread producer([] {
        char chunk[16];
        for (int i = 0; i < kChunks; ++i) {
            memcpy(chunk, &i, sizeof i);
            while (!PushPacket(chunk, sizeof i)) std::this_thread::yield();
            if (i % 1000 == 0) std::this_thread::yield();  // let the consumer fall asleep now and then
        }
    });
    int expected = 0, lostWakeUps = 0;
    char out[kQueueEntrySize];
    while (expected < kChunks) {
        if (WaitForChunks(5000) == ChunkWait::TimedOut && NextPacketLength() >= 0) ++lostWakeUps;
        int length = 0;
        while (PopPacket(out, &length)) {
            int value;
            memcpy(&value, out, sizeof value);
            ASSERT_EQ(value, expected);
            ++expected;
        }
    }
    producer.join();
    EXPECT_EQ(lostWakeUps, 0);
}

// A receiver that meets a full ring marks it full (the writer then batches) and waits for the
// writer to free a slot, however long that takes; only a stop while it waits loses the chunk,
// with the full-queue warning and its datagrams counted.
TEST_F(HotPath, FullRingIsWaitedForAndLosesAChunkOnlyAtAStop) {
    char line[] = "Xline\n";
    for (int i = 0; i < kQueueSlotCount - 1; ++i) ASSERT_TRUE(PushPacket(line, 6));
    ReceiveGatherer gatherer;
    auto gather = [&] {
        ResetGatherer(gatherer);
        memcpy(gatherer.receiveBuffer, line, 6);
        gatherer.fillCount = 6;
        gatherer.datagrams = 1;
    };
    ResetGatherer(gatherer);
    std::thread writer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // longer than any old bound
        char out[kQueueEntrySize];
        int length = 0;
        PopPacket(out, &length);
    });
    GatherDatagram(gatherer, line, 6, PlatAddress{}, false);
    writer.join();
    EXPECT_EQ(intakeState.queueFull.load(), 1) << "the full ring turns the congested state on";
    EXPECT_EQ(testing_support::TakeIntakeMessages(), "") << "nothing was lost";
    EXPECT_EQ(intakeCounters.droppedQueue.load(), 0u);
    EXPECT_EQ(gatherer.fillCount, 0);

    gather();
    intakeState.stopRequested = 1;
    HandOver(gatherer, gatherer.fillCount);
    EXPECT_EQ(testing_support::TakeIntakeMessages(), "WARNING, QUEUE FULL ,6 LOST UDP PACKET!!!!\n");
    EXPECT_EQ(intakeCounters.droppedQueue.load(), 1u);
}

// A burst far larger than the ring's 1023 slots (but well within the socket's receive buffer)
// waits in the socket while the receiver thread outruns the writer: every line reaches the log
// file, in order. The burst is sent before the receiver starts, so it arrives all at once. With
// `stopAtOnce` the stop is asked for before the receiver starts: the whole burst is the backlog
// the receiver takes in at a stop, while this thread drains the ring as the way out does.
void ExpectBurstLargerThanTheRingLosesNoLine(bool stopAtOnce) {
    constexpr int kLines = 3000;
    QuietWriter quiet;
    PlatSocket socket = PlatUdpOpen();
    ASSERT_NE(socket, kPlatNoSocket);
    ASSERT_TRUE(PlatUdpBind(socket, 0));
    PlatUdpSetNonBlocking(socket);
    if (PlatUdpSetReceiveBuffer(socket, 4 * 1024 * 1024) < 2 * 1024 * 1024) {
        PlatUdpClose(socket);
        GTEST_SKIP() << "the system caps the receive buffer below what the burst needs";
    }
    int port = PlatUdpLocalPort(socket);
    ASSERT_GT(port, 0);
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int k = 0; k < kLines; ++k) {
        char text[64];
        int length = snprintf(text, sizeof text, "\xe7n%d xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", k);
        ASSERT_EQ(sendto(sender, text, static_cast<size_t>(length), 0,
                         reinterpret_cast<sockaddr*>(&to), sizeof to), length);
    }
    close(sender);
    if (stopAtOnce) RequestReceiverStop();
    ASSERT_TRUE(StartReceiver(socket));
    ASSERT_NE(intakeState.receiverThread, nullptr);

    // The main loop's part, until every line is in the file or nothing came for a long while
    // (or, at a stop, until the receiver has ended).
    static LineAssembly assembly;
    memset(&assembly, 0, sizeof assembly);
    int written = 0;
    for (int quietPasses = 0; written < kLines && quietPasses < 50 && !(stopAtOnce && ReceiverEnded());) {
        ChunkWait r = WaitForChunks(100);
        DrainQueue(assembly, WriterSink(quiet.writer));
        quiet.writer.HandOnBatch();
        if (r == ChunkWait::TimedOut) {
            int now = CountNumberedRecords(quiet.Logged(), kLines);
            quietPasses = now == written ? quietPasses + 1 : 0;
            written = now;
        }
    }
    StopReceiver();
    intakeState.dataEvent = PlatEventCreate();  // StopReceiver closed it; TearDown closes this one
    DrainQueue(assembly, WriterSink(quiet.writer));
    quiet.writer.HandOnBatch();
    PlatUdpClose(socket);
    EXPECT_EQ(CountNumberedRecords(quiet.Logged(), kLines), kLines);
}

TEST_F(HotPath, BurstLargerThanTheRingLosesNoLine) { ExpectBurstLargerThanTheRingLosesNoLine(false); }

TEST_F(HotPath, BacklogLargerThanTheRingIsWrittenInFullAtAStop) { ExpectBurstLargerThanTheRingLosesNoLine(true); }

}  // namespace

namespace {

// Everything waiting in a non-blocking pipe's read end.
std::string ReadAvailable(int fd) {
    std::string all;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(got));
    return all;
}

// A console that lags (here a small pipe nobody reads for a while) never holds the writer up:
// what it cannot take is skipped on screen, whole lines only, and counted in a notice once it
// catches up; the log file keeps every line.
TEST(ConsoleLag, SkippedLinesAreCountedOnScreenAndAllKeptInTheLog) {
    constexpr int kLines = 200;
    alarm(120);  // a writer that blocks on the full pipe would hang here: end the run instead
    char pattern[] = "/tmp/udptrail-lag.XXXXXX";
    std::string folder = mkdtemp(pattern);
    LogSettings settings{};
    snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", folder.c_str());
    settings.logFileSize = kDefaultLogFileSize;
    settings.retentionDays = kDefaultRetentionDays;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    int savedStdout = dup(STDOUT_FILENO);
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[1]);

    std::string firstShown, thenShown, logged;
    {
        CDebugUI writer;
        writer.Init(settings);
        for (int k = 0; k < kLines; ++k) {
            char text[96];
            snprintf(text, sizeof text, "n%d xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", k);
            writer.LogLine(7, text);
            writer.HandOnBatch();  // a drain each: the console gets a write of its own for every line
        }
        firstShown = ReadAvailable(pipeFds[0]);
        writer.LogLine(7, "after\n");
        writer.HandOnBatch();
        thenShown = ReadAvailable(pipeFds[0]);
        writer.CloseLogFile();
        std::string command = "cat '" + folder + "'/udplog_*.log";
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) logged.append(buffer, got);
        pclose(pipe);
        dup2(savedStdout, STDOUT_FILENO);
        close(savedStdout);
        PlatConsoleSetup();  // back to the real standard output
    }
    alarm(0);
    close(pipeFds[0]);
    std::string command = "rm -rf '" + folder + "'";
    EXPECT_EQ(system(command.c_str()), 0);

    EXPECT_EQ(CountNumberedRecords(logged, kLines), kLines);
    EXPECT_NE(logged.find(": after\n"), std::string::npos);
    int shownLines = static_cast<int>(std::count(firstShown.begin(), firstShown.end(), '\n'));
    ASSERT_GT(shownLines, 0);
    ASSERT_LT(shownLines, kLines);
    EXPECT_EQ(firstShown.back(), '\n');  // whole lines only
    EXPECT_EQ(CountNumberedRecords(firstShown, shownLines), shownLines);
    std::string notice = "WARNING, " + std::to_string(kLines - shownLines) +
                         " lines not shown here (the console lagged); the log file has them all\n";
    ASSERT_GE(thenShown.size(), notice.size());
    EXPECT_EQ(thenShown.substr(0, notice.size()), notice);
    EXPECT_EQ(thenShown.substr(notice.size() + 6), ": after\n");
}

}  // namespace

