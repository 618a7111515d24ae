// The receiver's gathering rule.
#include "intake/receive_gatherer.h"

#include <cstdio>
#include <cstring>

#include "intake/intake_counters.h"
#include "intake/intake_messages.h"
#include "intake/packet_queue.h"
#include "platform/thread.h"

// A burst can outrun the writer for a while. The receiver then waits for a free slot while
// further datagrams wait in the socket's receive buffer, so that the ring never loses what the
// socket could still hold. At a stop the main thread drains the ring while the receiver takes in
// the socket's backlog, so only a main thread that no longer drains makes the wait give up.
bool WaitForRoom() {
    if (PacketQueueHasRoom()) return true;
    MarkQueueFull();
    for (int waitedAtStop = 0; !PacketQueueHasRoom(); PlatSleepMs(1)) {
        bool stopping = intakeState.stopRequested.load(std::memory_order_relaxed) != 0;
        if (stopping && ++waitedAtStop > kStopRoomWaitMs) return false;
    }
    return true;
}

void HandOver(ReceiveGatherer& gatherer, int length) {
    WaitForRoom();
    // A failed push posts the full-queue warning; the chunk's datagrams are counted as lost.
    if (!PushPacket(gatherer.receiveBuffer, length, 0, &gatherer.sender))
        CountIntake(intakeCounters.droppedQueue, static_cast<uint64_t>(gatherer.datagrams));
    // Only the bytes handed over can be other than zero (a forced line feed lies within them).
    memset(gatherer.receiveBuffer, 0, static_cast<size_t>(length));
    gatherer.fillCount = 0;
    gatherer.datagrams = 0;
    gatherer.sender = PlatAddress{};
}

void ResetGatherer(ReceiveGatherer& gatherer) {
    memset(gatherer.receiveBuffer, 0, sizeof gatherer.receiveBuffer);
    gatherer.fillCount = 0;
    gatherer.datagrams = 0;
    gatherer.sender = PlatAddress{};
}

bool HoldsLineFeed(const ReceiveGatherer& gatherer) {
    return memchr(gatherer.receiveBuffer, '\n', static_cast<size_t>(gatherer.fillCount)) != nullptr;
}

int WithoutStringTerminators(const char* datagram, int length) {
    int end = length;
    while (end > 0 && datagram[end - 1] == '\0') --end;
    if (end == length || memchr(datagram, '\n', static_cast<size_t>(end)) == nullptr) return length;
    return end;
}

void MakeRoomFor(ReceiveGatherer& gatherer, int size) {
    if (gatherer.fillCount > 0 && size > kReceiveBufferSize - gatherer.fillCount)
        HandOver(gatherer, gatherer.fillCount);
}

void KeepSendersApart(ReceiveGatherer& gatherer, const PlatAddress& next) {
    if (gatherer.fillCount > 0 && !PlatSameAddress(next, gatherer.sender))
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
