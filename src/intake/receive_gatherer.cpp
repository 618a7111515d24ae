// The receiver's gathering rule.
#include "intake/receive_gatherer.h"

#include <cstdio>
#include <cstring>

#include "intake/packet_queue.h"
#include "platform/thread.h"

// A burst can outrun the writer for a moment. The receiver then waits for a free slot, up to one
// poll interval, while further datagrams wait in the socket's receive buffer; only a ring that
// stays full that long makes the push fail and lose the chunk.
// The bound is the normal interval even while congested (when the current one is 0). At a stop
// the main thread drains the ring while the receiver takes in the socket's backlog, so the wait
// is longer then: only a main thread that no longer drains makes it give up.
bool WaitForRoom() {
    bool stopping = intakeState.stopRequested.load(std::memory_order_relaxed) != 0;
    int bound = stopping ? kStopRoomWaitMs : kNormalPollIntervalMs;
    for (int waited = 0; waited < bound && !PacketQueueHasRoom(); ++waited) PlatSleepMs(1);
    return PacketQueueHasRoom();
}

namespace {

void HandOver(ReceiveGatherer& gatherer, int length) {
    WaitForRoom();
    PushPacket(gatherer.receiveBuffer, length, 0, &gatherer.sender);  // a failed push reports itself and drops the chunk
    ResetGatherer(gatherer);
}

}  // namespace

void ResetGatherer(ReceiveGatherer& gatherer) {
    memset(gatherer.receiveBuffer, 0, sizeof gatherer.receiveBuffer);
    gatherer.fillCount = 0;
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
        printf("ERROR, received UDP packet over 1024 bytes but does not contain'\\n (line feed), "
               "discard\n");
        gatherer.receiveBuffer[kReceiveBufferSize - 1] = '\n';
        HandOver(gatherer, kReceiveBufferSize);
    }
}

void HandOverIdleChunk(ReceiveGatherer& gatherer) {
    if (gatherer.fillCount > 0 && HoldsLineFeed(gatherer)) HandOver(gatherer, gatherer.fillCount);
}
