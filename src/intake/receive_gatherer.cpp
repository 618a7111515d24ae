// The receiver's gathering rule.
#include "intake/receive_gatherer.h"

#include <cstdio>
#include <cstring>

#include "intake/intake_counters.h"
#include "intake/intake_messages.h"
#include "intake/packet_queue.h"
#include "intake/record_pieces.h"
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

void HandOver(ReceiveGatherer& gatherer, int length, bool continues) {
    WaitForRoom();
    // A failed push posts the full-queue warning; the chunk's datagrams are counted as lost.
    if (!PushPacket(gatherer.receiveBuffer, length, 0, &gatherer.sender, continues))
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

namespace {

bool HoldsLineFeed(const ReceiveGatherer& gatherer) {
    return memchr(gatherer.receiveBuffer, '\n', static_cast<size_t>(gatherer.fillCount)) != nullptr;
}

// Cuts kForcedLineFeedBytes without a line feed off with a forced one. The byte beyond them (the
// buffer holds at most one more) is not written over: it stays held as the continuation's start.
void ForceLineFeed(ReceiveGatherer& gatherer) {
    PostIntakeMessage(IntakeMessageCode::ForcedLineFeed);
    CountIntake(intakeCounters.forcedLineFeeds, 1);
    int rest = gatherer.fillCount - kForcedLineFeedBytes;
    char restByte = gatherer.receiveBuffer[kForcedLineFeedBytes];
    PlatAddress sender = gatherer.sender;
    gatherer.receiveBuffer[kForcedLineFeedBytes] = '\n';
    HandOver(gatherer, kForcedLineFeedBytes + 1, true);
    if (rest > 0) {
        gatherer.receiveBuffer[0] = restByte;
        gatherer.fillCount = 1;
        gatherer.datagrams = 1;
        gatherer.sender = sender;
    }
}

}  // namespace

void GatherDatagram(ReceiveGatherer& gatherer, const char* datagram, int length,
                    const PlatAddress& sender, bool keepSendersApart) {
    if (length > kReceiveBufferSize) length = kReceiveBufferSize;  // more is never received
    if (gatherer.fillCount > 0 && keepSendersApart && !PlatSameAddress(sender, gatherer.sender))
        HandOver(gatherer, gatherer.fillCount);
    if (gatherer.fillCount > 0 && length > kReceiveBufferSize - gatherer.fillCount)
        HandOver(gatherer, gatherer.fillCount);
    if (gatherer.fillCount == 0) gatherer.sender = sender;  // a chunk carries its first sender
    char* end = gatherer.receiveBuffer + gatherer.fillCount;
    memcpy(end, datagram, static_cast<size_t>(length));
    // The NUL bytes dropped are zero, as the buffer is past fillCount anyway.
    gatherer.fillCount += EndLineAtTrailingNuls(end, length);
    ++gatherer.datagrams;
    if (HoldsLineFeed(gatherer)) {
        bool congested = intakeState.queueFull.load(std::memory_order_relaxed) != 0;
        if (!congested || gatherer.fillCount > kCongestedBatchBytes)
            HandOver(gatherer, gatherer.fillCount);
    } else if (gatherer.fillCount >= kForcedLineFeedBytes) {
        ForceLineFeed(gatherer);
    }
}

void HandOverIdleChunk(ReceiveGatherer& gatherer) {
    if (gatherer.fillCount > 0 && HoldsLineFeed(gatherer)) HandOver(gatherer, gatherer.fillCount);
}
