// A clean intake for each test, and taking chunks off the ring.
#include "support/intake.h"

#include <cstdlib>

#include "intake/intake_messages.h"
#include "intake/packet_queue.h"
#include "intake/receiver.h"
#include "platform/event.h"
#include "support/wait.h"

namespace testing_support {

void ReleaseIntake() {
    if (intakeState.receiverThread != nullptr) StopReceiver();
    FreePacketQueue();
    if (intakeState.dataEvent != nullptr) {
        PlatEventClose(intakeState.dataEvent);
        intakeState.dataEvent = nullptr;
    }
}

void ResetIntake(bool withEvent) {
    ReleaseIntake();
    ResetIntakeState();
    if (!CreatePacketQueue()) abort();
    if (withEvent) intakeState.dataEvent = PlatEventCreate();
}

std::string TakeIntakeMessages() {
    std::string texts;
    IntakeMessage message;
    char text[256];
    while (TakeIntakeMessage(&message)) texts.append(text, FormatIntakeMessage(message, text, sizeof text));
    return texts;
}

std::string TakeChunk(int timeoutMs) {
    if (!WaitUntil([] { return NextPacketLength() >= 0; }, timeoutMs / 1000.0)) return "<none>";
    char buffer[kQueueEntrySize];
    int length = 0;
    if (!PopPacket(buffer, kQueueEntrySize, &length)) return "<empty entry>";
    return std::string(buffer, static_cast<size_t>(length));
}

void RingTest::SetUp() {
    ResetIntakeState();  // no counts and no messages of an earlier test
    ASSERT_TRUE(CreatePacketQueue());
    intakeState.dataEvent = PlatEventCreate();
    ASSERT_NE(intakeState.dataEvent, nullptr);
    intakeState.stopRequested.store(0);
}

void RingTest::TearDown() {
    // Leave the shared state as a fresh run has it.
    char scratch[kQueueEntrySize];
    int length;
    while (NextPacketLength() >= 0) PopPacket(scratch, &length);
    PopPacket(scratch, &length);
    intakeState.consumerMayWait.store(1);
    intakeState.stopRequested.store(0);
    PlatEventClose(intakeState.dataEvent);
    intakeState.dataEvent = nullptr;
    FreePacketQueue();
}

}  // namespace testing_support
