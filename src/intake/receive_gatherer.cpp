// The receiver's gathering rule.
#include "intake/receive_gatherer.h"

#include <cstdio>
#include <cstring>

#include "intake/intake_counters.h"
#include "intake/intake_messages.h"
#include "intake/packet_queue.h"
#include "platform/thread.h"

namespace {

// A burst can outrun the writer for a while. The receiver then waits for a free slot while
// further datagrams wait in the socket's receive buffer, so that the ring never loses what the
// socket could still hold. The ring is marked full at once, so that the writer drains it in
// batches; a stop is noticed within a millisecond.
void WaitForRoom() {
    if (PacketQueueHasRoom()) return;
    MarkQueueFull();
    while (!PacketQueueHasRoom()) {
        if (intakeState.stopRequested.load(std::memory_order_relaxed) != 0) return;
        PlatSleepMs(1);
    }
}

}  // namespace

void HandOver(ReceiveGatherer& gatherer, int length) {
    WaitForRoom();
    // A failed push posts the full-queue warning; the chunk's datagrams are counted as lost.
    if (!PushPacket(gatherer.receiveBuffer, length))
        CountIntake(intakeCounters.droppedQueue, static_cast<uint64_t>(gatherer.datagrams));
    ResetGatherer(gatherer);
}

void ResetGatherer(ReceiveGatherer& gatherer) {
    memset(gatherer.receiveBuffer, 0, sizeof gatherer.receiveBuffer);
    gatherer.fillCount = 0;
    gatherer.datagrams = 0;
}

bool HoldsLineFeed(const ReceiveGatherer& gatherer) {
    for (int i = 0; i < gatherer.fillCount; ++i) {
        char byte = gatherer.receiveBuffer[i];
        if (byte == '\n') return true;
        if (byte == '\0') return false;
    }
    return false;
}

void MakeRoomFor(ReceiveGatherer& gatherer, int size) {
    if (gatherer.fillCount > 0 && size > kReceiveBufferSize - gatherer.fillCount)
        HandOver(gatherer, gatherer.fillCount);
}

void HandleGatheredBytes(ReceiveGatherer& gatherer) {
    if (HoldsLineFeed(gatherer)) {
        bool congested = intakeState.queueFull.load(std::memory_order_relaxed) != 0;
        if (!congested || gatherer.fillCount > kCongestedBatchBytes)
            HandOver(gatherer, gatherer.fillCount);
        return;
    }
    if (gatherer.fillCount >= kForcedLineFeedBytes) {
        PostIntakeMessage(IntakeMessageCode::ForcedLineFeed);
        CountIntake(intakeCounters.forcedLineFeeds, 1);
        gatherer.receiveBuffer[kReceiveBufferSize - 1] = '\n';
        HandOver(gatherer, kReceiveBufferSize);
    }
}

void HandOverIdleChunk(ReceiveGatherer& gatherer) {
    if (gatherer.fillCount > 0 && HoldsLineFeed(gatherer)) HandOver(gatherer, gatherer.fillCount);
}
