// The receiver thread over a real UDP socket on 127.0.0.1 and the real ring: gathering datagrams
// into chunks, batching under congestion, the idle hand-over, over-long data, and shutdown.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "intake/intake_counters.h"
#include "intake/packet_queue.h"
#include "intake/receiver.h"
#include "platform/udp_socket.h"
#include "support/capture.h"
#include "support/intake.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

class ReceiverTest : public IntakeTest {
protected:
    void SetUp() override {
        IntakeTest::SetUp();
        socket = PlatUdpOpen();
        ASSERT_NE(socket, kPlatNoSocket);
        ASSERT_TRUE(PlatUdpBind(socket, 0));
        ASSERT_TRUE(PlatUdpSetNonBlocking(socket));
        const int port = PlatUdpLocalPort(socket);
        ASSERT_GT(port, 0);
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<uint16_t>(port));
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sender = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(sender, 0);
    }

    void TearDown() override {
        IntakeTest::TearDown();
        if (sender >= 0) close(sender);
        if (socket != kPlatNoSocket) PlatUdpClose(socket);
    }

    void Start() { ASSERT_TRUE(StartReceiver(socket)); ASSERT_NE(intakeState.receiverThread, nullptr); }

    void Send(const std::string& datagram) {
        const ssize_t sent = sendto(sender, datagram.data(), datagram.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
        ASSERT_EQ(sent, static_cast<ssize_t>(datagram.size()));
    }

    // Waits (generously) for the next chunk the receiver queues.
    static std::string NextChunk() { return TakeChunk(20000); }

    // Bytes of the datagram waiting on the server's socket, 0 when none waits.
    int PendingBytes() const {
        int pending = 0;
        ioctl(static_cast<int>(socket), FIONREAD, &pending);
        return pending;
    }

    PlatSocket socket = kPlatNoSocket;
    int sender = -1;
    sockaddr_in target{};
};

const char kNoLineFeedError[] =
    "ERROR, received UDP packet over 1024 bytes but does not contain'\\n (line feed), discard\n";
const char kOverlongError976[] =
    "ERROR, received UDP datagram too long for the receive buffer, 976 bytes of it lost\n";

TEST_F(ReceiverTest, DatagramsAreGatheredUntilALineFeedArrives) {
    Start();
    Send("Xhello\n");
    EXPECT_EQ(NextChunk(), "Xhello\n");

    Send("Xpart");
    Send("ial\n");
    EXPECT_EQ(NextChunk(), "Xpartial\n") << "nothing is queued before the line feed arrives";

    Send("Xa\nXb\nXc");  // bytes after the last line feed travel in the same chunk
    EXPECT_EQ(NextChunk(), "Xa\nXb\nXc");
    EXPECT_EQ(NextPacketLength(), -1);
}

TEST_F(ReceiverTest, DataWithoutLineFeedIsCutAt1023BytesWithAForcedLineFeed) {
    OutputCapture capture;
    Start();
    const std::string a(341, 'a'), b(341, 'b'), c(341, 'c');
    Send(a);
    Send(b);
    Send(c);
    const std::string chunk = NextChunk();
    capture.Stop();

    EXPECT_EQ(chunk, a + b + c + "\n");
    EXPECT_EQ(capture.Out(), "") << "the receiver thread never writes to the console";
    EXPECT_EQ(TakeIntakeMessages(), kNoLineFeedError);
}

// A NUL byte hides no line feed: the line behind it is handed over at once. NUL bytes that end a
// datagram (a C string terminator) end its line: dropped behind a line feed, else one becomes it.
TEST_F(ReceiverTest, ALineFeedBehindANulCountsAndTrailingTerminatorsEndTheLine) {
    Start();
    const std::string hidden("X\0ab\n", 5);
    Send(hidden);
    EXPECT_EQ(NextChunk(), hidden);
    Send(std::string("\xe2one\n\0\0", 7));
    EXPECT_EQ(NextChunk(), "\xe2one\n");
    Send(std::string("Xno line feed\0", 14));
    EXPECT_EQ(NextChunk(), "Xno line feed\n");
}

TEST_F(ReceiverTest, CongestionBatchesLinesUntilMoreThan768Bytes) {
    intakeState.queueFull = 1;
    // All datagrams wait in the socket before the receiver starts, so that no idle pause between
    // two of them can end the batch early.
    std::string expected;
    for (int i = 0; i < 40; ++i) {  // 38 lines of 20 bytes are 760 bytes; the 39th passes 768
        const std::string line = "X" + std::string(18, static_cast<char>('a' + i % 26)) + "\n";
        Send(line);
        if (i < 39) expected += line;
    }
    Start();
    EXPECT_EQ(NextChunk(), expected) << "every line is held until the batch passes 768 bytes";
    EXPECT_EQ(NextChunk(), "X" + std::string(18, 'n') + "\n") << "the idle socket releases the last line";
    EXPECT_EQ(intakeState.queueFull, 1) << "the receiver never ends the congested state itself";
}

TEST_F(ReceiverTest, HeldLineIsHandedOverOnceTheSocketIsIdle) {
    intakeState.queueFull = 1;
    Start();
    Send("Xwaiting line\n");
    EXPECT_EQ(NextChunk(), "Xwaiting line\n") << "a held line must not wait for another datagram";
}

TEST_F(ReceiverTest, OverlongDatagramKeepsWhatFitsAndReportsTheRest) {
    OutputCapture capture;
    Start();
    std::string big(2000, 'q');
    big[10] = '\n';
    Send(big);
    const std::string chunk = NextChunk();
    capture.Stop();

    EXPECT_EQ(chunk, big.substr(0, kQueueEntrySize));
    EXPECT_EQ(intakeCounters.datagrams.load(), 1u);
    EXPECT_EQ(intakeCounters.bytes.load(), 2000u);
    EXPECT_EQ(intakeCounters.truncated.load(), 1u);
    EXPECT_EQ(intakeCounters.truncatedBytes.load(), 976u);
    EXPECT_EQ(capture.Out(), "") << "the receiver thread never writes to the console";
    EXPECT_EQ(TakeIntakeMessages(), kOverlongError976);
}

// A datagram that would not fit behind the bytes already gathered: those go first as a chunk of
// their own (the line assembler joins them with what follows), and nothing is lost.
TEST_F(ReceiverTest, DatagramLargerThanTheRoomLeftKeepsEveryByte) {
    OutputCapture capture;
    const std::string first(1000, 'f');
    const std::string second = std::string(99, 's') + "\n";
    Send(first);
    Send(second);
    Send(first);
    Send(std::string(2000, 'b'));
    Start();
    const std::string chunk1 = NextChunk();
    const std::string chunk2 = NextChunk();
    const std::string chunk3 = NextChunk();
    const std::string chunk4 = NextChunk();
    capture.Stop();

    EXPECT_EQ(chunk1, first);
    EXPECT_EQ(chunk2, second);
    EXPECT_EQ(chunk3, first);
    EXPECT_EQ(chunk4, std::string(1023, 'b') + "\n") << "the over-long one is cut as any other";
    EXPECT_EQ(capture.Out(), "") << "the receiver thread never writes to the console";
    EXPECT_EQ(TakeIntakeMessages(), std::string(kOverlongError976) + kNoLineFeedError);
}

// A nearly full ring: the receiver takes no more datagrams than it has room for, so none waits in
// its hands; the rest wait in the socket, where the system counts what it cannot keep.
TEST_F(ReceiverTest, TakesNoMoreDatagramsThanTheRingHasRoomFor) {
    for (int i = 0; i < kQueueSlotCount - 1 - 10; ++i) ASSERT_TRUE(PushPacket("Xold\n", 5));
    for (int i = 0; i < 40; ++i) Send("Xnew\n");
    Start();
    ASSERT_TRUE(WaitUntil([] { return intakeState.queueFull.load() != 0; }, 20)) << "waits for room";
    EXPECT_EQ(intakeCounters.datagrams.load(), 10u);
    while (TakeChunk(200) != "<none>") {
    }
    EXPECT_EQ(intakeCounters.datagrams.load(), 40u);
}

TEST_F(ReceiverTest, OnlyOneReceiverRunsAndStopEndsItForGood) {
    Start();
    EXPECT_FALSE(StartReceiver(socket)) << "a receiver is already running";
    Send("Xbefore\n");
    EXPECT_EQ(NextChunk(), "Xbefore\n");

    StopReceiver();
    EXPECT_EQ(intakeState.receiverThread, nullptr);
    EXPECT_EQ(intakeState.dataEvent, nullptr);

    const int32_t writeIndex = packetQueue.writeIndex.load();
    Send("Xafter\n");
    // Time for a receiver that is wrongly still alive to take the datagram.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_GT(PendingBytes(), 0) << "nobody may read the socket after StopReceiver";
    EXPECT_EQ(packetQueue.writeIndex.load(), writeIndex);
}

// Shutdown in the middle of a flood and while congested (poll interval 0): once StopReceiver has
// returned the thread has ended, so releasing the ring at once is safe (AddressSanitizer and
// ThreadSanitizer watch this).
TEST_F(ReceiverTest, StopDuringAFloodLeavesNoPushBehind) {
    OutputCapture capture;  // the ring fills up and warns
    Start();
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const std::string line = "Xflood line\n";
        for (int i = 0; i < 200000 && flooding; ++i) {
            sendto(sender, line.data(), line.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        }
    });
    WaitUntil([] { return packetQueue.writeIndex.load() > 100; }, 20);
    intakeState.pollIntervalMs = 0;
    StopReceiver();
    const int32_t writeIndex = packetQueue.writeIndex.load();
    const uint8_t full = intakeState.queueFull.load();
    FreePacketQueue();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    flooding = false;
    flood.join();
    capture.Stop();

    EXPECT_EQ(packetQueue.writeIndex.load(), writeIndex);
    EXPECT_EQ(intakeState.queueFull.load(), full);
    EXPECT_EQ(intakeState.receiverThread, nullptr);
}

}  // namespace

namespace {

// The system's 32-bit drop counter as datagrams bring it: widened across its wrap, and a value
// older than one already seen (a datagram queued before a direct query) changes nothing.
TEST(DropCounterTest, WidenedAcrossTheWrapAndStaleValuesIgnored) {
    ResetIntakeCounters();
    const struct {
        uint32_t seen;
        uint64_t total;
    } steps[] = {{1000, 1000},          {999, 1000},        {0x70000000, 0x70000000},
                 {0xE0000000, 0xE0000000}, {0x10, 0x100000010}, {0xFFFFFFF0, 0x100000010},
                 {0x20, 0x100000020}};
    for (const auto& step : steps) {
        NoteSystemDropCounter(step.seen);
        EXPECT_EQ(intakeCounters.droppedSystem.load(), step.total) << std::hex << step.seen;
    }
    ResetIntakeCounters();
}

}  // namespace
