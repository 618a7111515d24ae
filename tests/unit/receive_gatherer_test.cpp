// The receiver's gathering rule at its exact boundaries, without a socket.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "intake/packet_queue.h"
#include "intake/receive_gatherer.h"
#include "support/capture.h"
#include "support/intake.h"

using namespace testing_support;

namespace {

class ReceiveGathererTest : public IntakeTest {
protected:
    void SetUp() override {
        IntakeTest::SetUp();
        ResetGatherer(gatherer);
    }

    // Applies the rule to a datagram of `bytes` from sender `from` (127.0.0.<from>:5000).
    void Receive(const std::string& bytes, int from = 1, bool keepSendersApart = false) {
        PlatAddress sender{};
        sender.family = 4;
        sender.port = 5000;
        sender.bytes[0] = 127;
        sender.bytes[3] = static_cast<uint8_t>(from);
        GatherDatagram(gatherer, bytes.data(), static_cast<int>(bytes.size()), sender, keepSendersApart);
    }

    ReceiveGatherer gatherer;
};

TEST_F(ReceiveGathererTest, CongestedBatchGoesOnlyPast768Bytes) {
    intakeState.queueFull = 1;
    const std::string line767 = "X" + std::string(766, 'a');
    Receive(line767 + "\n");  // 768 bytes: held
    EXPECT_EQ(gatherer.fillCount, 768);
    EXPECT_EQ(TakeChunk(), "<none>");
    Receive("Y");  // 769 bytes with a line feed: handed over
    EXPECT_EQ(TakeChunk(), line767 + "\nY");
    EXPECT_EQ(gatherer.fillCount, 0);
    for (char byte : gatherer.receiveBuffer) ASSERT_EQ(byte, 0) << "the buffer is zeroed after a hand-over";
}

// 1023 bytes without a line feed are cut with a forced one behind them; a 1024th byte is not
// written over but held as the start of the continuation.
TEST_F(ReceiveGathererTest, FullBufferWithoutLineFeedIsCutWithoutLosingAByte) {
    Receive(std::string(1023, 'z') + "Z");
    EXPECT_EQ(TakeChunk(), std::string(1023, 'z') + "\n");
    Receive("\n");
    EXPECT_EQ(TakeChunk(), "Z\n");
    EXPECT_EQ(TakeIntakeMessages().rfind("ERROR, received UDP packet over 1024 bytes", 0), 0u);
}

// Held bytes go over first when the next datagram would not fit behind them (an exact fit needs
// no room made), or, with --sender, when it comes from another sender.
TEST_F(ReceiveGathererTest, HeldBytesGoFirstForRoomOrForAnotherSender) {
    const std::string head = "X" + std::string(999, 'a');
    Receive(head);
    Receive(std::string(23, 'b') + "\n");
    EXPECT_EQ(TakeChunk(), head + std::string(23, 'b') + "\n");
    Receive(head);
    Receive(std::string(24, 'c') + "\n");
    EXPECT_EQ(TakeChunk(), head);
    EXPECT_EQ(TakeChunk(), std::string(24, 'c') + "\n");
    Receive("Xone,", 1, true);
    Receive("Xtwo,", 1, true);
    Receive("Xthree\n", 2, true);
    EXPECT_EQ(TakeChunk(), "Xone,Xtwo,");
    EXPECT_EQ(TakeChunk(), "Xthree\n");
}

// A run of NUL bytes that ends a datagram ends its line as a line feed does; right behind a line
// feed it is dropped; NULs within a datagram stay for the line assembler.
TEST_F(ReceiveGathererTest, TrailingNulRunEndsTheLine) {
    const struct {
        std::string datagram;
        std::string chunk;
    } cases[] = {
        {std::string("\xE2msg 1\0", 7), "\xE2msg 1\n"},
        {std::string("Xa\0\0\0", 5), "Xa\n"},
        {std::string("Xone\n\0\0", 7), "Xone\n"},
        {std::string("\0", 1), "\n"},
        {std::string("Xa\0b\n", 5), std::string("Xa\0b\n", 5)},
    };
    for (const auto& c : cases) {
        Receive(c.datagram);
        EXPECT_EQ(TakeChunk(), c.chunk);
    }
    Receive(std::string("Xa\0b", 4));
    EXPECT_EQ(TakeChunk(), "<none>") << "an inner NUL ends no line";
}

TEST_F(ReceiveGathererTest, IdleHandOverTakesOnlyBytesHoldingALineFeed) {
    Receive(std::string("X\0b\n", 4));
    EXPECT_EQ(TakeChunk(), std::string("X\0b\n", 4)) << "a line feed behind a NUL counts too";
    Receive("Xpartial");
    HandOverIdleChunk(gatherer);
    EXPECT_EQ(TakeChunk(), "<none>");

    ResetGatherer(gatherer);
    intakeState.queueFull = 1;
    Receive("Xshort\n");
    EXPECT_EQ(TakeChunk(), "<none>");
    HandOverIdleChunk(gatherer);
    EXPECT_EQ(TakeChunk(), "Xshort\n");
}

}  // namespace
