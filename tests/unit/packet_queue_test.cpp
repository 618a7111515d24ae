// The ring between the receiver and the main thread: capacity, pressure state, wrap-around,
// bounded pops, release, and a two-thread run that checks order and content.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "intake/packet_queue.h"
#include "platform/event.h"
#include "support/capture.h"
#include "support/intake.h"

using namespace testing_support;

namespace {

class PacketQueueTest : public IntakeTest {};

// A chunk whose bytes tell which push it came from.
std::string Numbered(int number, int length) {
    std::string chunk(static_cast<size_t>(length), '\0');
    for (int i = 0; i < length; ++i) chunk[static_cast<size_t>(i)] = static_cast<char>('A' + (number + i) % 26);
    return chunk;
}

bool Push(const std::string& chunk) { return PushPacket(chunk.data(), static_cast<int>(chunk.size())); }

std::string Pop() {
    char buffer[kQueueEntrySize];
    int length = -7;
    if (!PopPacket(buffer, &length)) return "<none>";
    return std::string(buffer, static_cast<size_t>(length));
}

bool IsNormal() { return intakeState.queueFull == 0 && intakeState.pollIntervalMs == kNormalPollIntervalMs; }
bool IsCongested() { return intakeState.queueFull == 1 && intakeState.pollIntervalMs == 0; }

TEST_F(PacketQueueTest, HoldsAtMost1023EntriesAndTurnsCongestedWhenFull) {
    bool allPushed = true;
    for (int i = 0; i < kQueueSlotCount - 1; ++i) allPushed = Push(Numbered(i, 1 + i % 50)) && allPushed;
    EXPECT_TRUE(allPushed);
    EXPECT_TRUE(IsNormal()) << "successful pushes leave the pressure state alone";

    PlatEventReset(intakeState.dataEvent);
    const std::string lost = Numbered(9999, 37);
    bool pushed;
    {
        OutputCapture capture;
        pushed = Push(lost);
        capture.Stop();
        EXPECT_EQ(capture.Out(), "") << "the receiver thread never writes to the console";
    }
    EXPECT_EQ(TakeIntakeMessages(), "WARNING, QUEUE FULL ,37 LOST UDP PACKET!!!!\n")
        << "the warning is handed to the main thread";
    EXPECT_FALSE(pushed);
    EXPECT_TRUE(IsCongested());
    EXPECT_EQ(PlatEventWait(intakeState.dataEvent, 0), PlatWaitResult::Signalled)
        << "the failed push wakes the consumer all the same";

    // Pops hand the entries back in order and leave the congested state until the ring is empty.
    for (int i = 0; i < kQueueSlotCount - 1; ++i) {
        ASSERT_EQ(Pop(), Numbered(i, 1 + i % 50)) << "entry " << i;
        ASSERT_TRUE(IsCongested()) << "after pop " << i;
    }
    char buffer[kQueueEntrySize];
    int length = -7;
    EXPECT_FALSE(PopPacket(buffer, &length));
    EXPECT_EQ(length, -7) << "an empty pop does not write the length";
    EXPECT_TRUE(IsNormal()) << "the empty pop ends the congested state";
}

TEST_F(PacketQueueTest, EmptyPopRestoresNormalStateAndWritesNothing) {
    intakeState.queueFull = 1;
    intakeState.pollIntervalMs = 0;
    EXPECT_EQ(NextPacketLength(), -1);
    EXPECT_TRUE(IsCongested()) << "asking for the next length changes nothing";

    char buffer[4] = {'a', 'b', 'c', 'd'};
    int length = 1234;
    EXPECT_FALSE(PopPacket(buffer, &length));
    EXPECT_FALSE(PopPacket(buffer, 4, &length));
    EXPECT_EQ(length, 1234);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_TRUE(IsNormal());
}

TEST_F(PacketQueueTest, IndicesWrapAroundAndCapacityHoldsAcrossTheWrap) {
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(Push(Numbered(i, 3)));
        ASSERT_EQ(Pop(), Numbered(i, 3));
    }
    EXPECT_EQ(packetQueue.readIndex.load(), 1000);
    EXPECT_EQ(packetQueue.writeIndex.load(), 1000);

    // Fill the ring again; the entries now run from slot 1000 over 1023 to slot 998.
    for (int i = 0; i < kQueueSlotCount - 1; ++i) ASSERT_TRUE(Push(Numbered(i, 1 + i % 200))) << i;
    EXPECT_EQ(packetQueue.writeIndex.load(), 999);
    {
        OutputCapture quiet;
        EXPECT_FALSE(Push("x"));
    }
    for (int i = 0; i < kQueueSlotCount - 1; ++i) {
        ASSERT_EQ(NextPacketLength(), 1 + i % 200);
        ASSERT_EQ(Pop(), Numbered(i, 1 + i % 200)) << i;
        if (i == 23) {
            EXPECT_EQ(packetQueue.readIndex.load(), 0) << "read index wrapped from 1023 to 0";
        }
    }
    EXPECT_EQ(Pop(), "<none>");
}

TEST_F(PacketQueueTest, BoundedPopNeverWritesPastTheRoomAndKeepsTheEntry) {
    const std::string full = Numbered(1, kQueueEntrySize);
    ASSERT_TRUE(Push(full));
    ASSERT_TRUE(Push("next\n"));

    std::vector<char> buffer(kQueueEntrySize + 16, '#');
    int length = 0;
    EXPECT_FALSE(PopPacket(buffer.data(), 1023, &length));
    EXPECT_EQ(length, kQueueEntrySize) << "the caller learns how much room the entry needs";
    for (size_t i = 1023; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << "byte " << i << " written";
    EXPECT_EQ(NextPacketLength(), kQueueEntrySize) << "the entry stays queued";

    EXPECT_TRUE(PopPacket(buffer.data(), kQueueEntrySize, &length));
    EXPECT_EQ(length, kQueueEntrySize);
    EXPECT_EQ(std::string(buffer.data(), kQueueEntrySize), full);
    EXPECT_EQ(buffer[kQueueEntrySize], '#');

    EXPECT_TRUE(PopPacket(buffer.data(), 5, &length)) << "an entry exactly the room's size fits";
    EXPECT_EQ(std::string(buffer.data(), 5), "next\n");
}

TEST_F(PacketQueueTest, FreeingTwiceOrWithoutCreatingIsSafe) {
    FreePacketQueue();
    FreePacketQueue();
    for (const QueueEntry& slot : packetQueue.slots) ASSERT_EQ(slot.data, nullptr);

    ASSERT_TRUE(CreatePacketQueue());
    for (const QueueEntry& slot : packetQueue.slots) ASSERT_NE(slot.data, nullptr);
    EXPECT_TRUE(Push("again\n"));
    EXPECT_EQ(Pop(), "again\n");
}

// One producer and one consumer on their own threads, as in the running server. The producer
// never pushes into a full ring (it waits for room), so every numbered chunk must arrive once, in
// order, with its own length and bytes. Bounded by count and by time so that it stays short under
// ThreadSanitizer too.
TEST_F(PacketQueueTest, TwoThreadsPassNumberedChunksInOrder) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const int64_t chunkTarget = 200000;
#else
    const int64_t chunkTarget = 2000000;
#endif
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::atomic<int64_t> produced{0};
    std::atomic<bool> producerDone{false};

    auto chunkLength = [](int64_t n) { return static_cast<int>(8 + (n * 7919) % (kQueueEntrySize - 7)); };
    auto fill = [](char* out, int64_t n, int length) {
        memcpy(out, &n, sizeof n);
        for (int i = 8; i < length; ++i) out[i] = static_cast<char>(n + i);
    };

    std::thread producer([&] {
        char chunk[kQueueEntrySize];
        int64_t n = 0;
        for (; n < chunkTarget; ++n) {
            if ((n & 1023) == 0 && std::chrono::steady_clock::now() > deadline) break;
            const int length = chunkLength(n);
            fill(chunk, n, length);
            // Wait for a free slot rather than lose a chunk to a full ring.
            while ((packetQueue.writeIndex.load(std::memory_order_relaxed) + 1) % kQueueSlotCount ==
                   packetQueue.readIndex.load(std::memory_order_acquire)) {
                std::this_thread::yield();
            }
            if (!PushPacket(chunk, length)) break;
        }
        produced = n;
        producerDone = true;
    });

    int64_t consumed = 0;
    int64_t faults = 0;
    char got[kQueueEntrySize];
    char expected[kQueueEntrySize];
    for (;;) {
        int length = 0;
        if (PopPacket(got, kQueueEntrySize, &length)) {
            const int wanted = chunkLength(consumed);
            fill(expected, consumed, wanted);
            if (length != wanted || memcmp(got, expected, static_cast<size_t>(wanted)) != 0) {
                if (faults++ == 0) ADD_FAILURE() << "chunk " << consumed << " arrived wrong (length " << length << ")";
            }
            ++consumed;
        } else if (producerDone && NextPacketLength() < 0) {
            break;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();

    EXPECT_EQ(faults, 0);
    EXPECT_EQ(consumed, produced.load());
    EXPECT_GT(consumed, 10000) << "too few chunks passed to mean anything";
    EXPECT_TRUE(IsNormal()) << "the producer never met a full ring";
    RecordProperty("chunks", std::to_string(consumed));
}

}  // namespace
