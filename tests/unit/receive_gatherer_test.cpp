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

    // Appends bytes as a received datagram would be, then applies the rule.
    void Receive(const std::string& bytes) {
        MakeRoomFor(gatherer, static_cast<int>(bytes.size()));
        ASSERT_LE(gatherer.fillCount + bytes.size(), sizeof gatherer.receiveBuffer);
        memcpy(gatherer.receiveBuffer + gatherer.fillCount, bytes.data(), bytes.size());
        gatherer.fillCount += static_cast<int32_t>(bytes.size());
        HandleGatheredBytes(gatherer);
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

TEST_F(ReceiveGathererTest, FullBufferWithoutLineFeedLosesItsLastByteToTheForcedOne) {
    OutputCapture quiet;
    Receive(std::string(1024, 'z'));
    quiet.Stop();
    EXPECT_EQ(TakeChunk(), std::string(1023, 'z') + "\n");
    EXPECT_EQ(gatherer.fillCount, 0);
}

TEST_F(ReceiveGathererTest, HeldBytesGoFirstOnlyWhenTheNextDatagramWouldNotFit) {
    Receive(std::string(1000, 'a'));
    MakeRoomFor(gatherer, 24);
    EXPECT_EQ(gatherer.fillCount, 1000) << "an exact fit needs no room made";
    EXPECT_EQ(TakeChunk(), "<none>");
    MakeRoomFor(gatherer, 25);
    EXPECT_EQ(gatherer.fillCount, 0);
    EXPECT_EQ(TakeChunk(), std::string(1000, 'a'));
    MakeRoomFor(gatherer, 5000);
    EXPECT_EQ(TakeChunk(), "<none>") << "an empty buffer is never handed over";
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
