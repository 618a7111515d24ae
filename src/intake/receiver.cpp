// The receiver thread: socket → gathering buffer → packet queue.
#include "intake/receiver.h"

#include <cstdio>

#include "intake/packet_queue.h"
#include "intake/receive_gatherer.h"

namespace {

/// At shutdown, at most this many datagrams already waiting in the socket are still taken in, so
/// that a flood cannot hold the shutdown up.
constexpr int kFinalReadLimit = 4096;

/// While nothing is held the wait's time-out has nothing to hand over, so the thread sleeps
/// longer and wakes the processor ten times a second instead of a hundred. A stop is then noticed
/// within this time.
constexpr int kEmptyWaitUs = 100 * 1000;

/// Once the socket is empty after taking in data, the thread lets the next datagrams gather for
/// this long before it looks again, instead of waking for each burst: a stream is then taken in
/// large batches. Well under the latency a watcher could see.
constexpr int kGatherMoreUs = 250;

bool StopRequested() { return intakeState.stopRequested.load(std::memory_order_relaxed) != 0; }

// Receives one datagram behind the bytes already held. False when nothing could be received.
bool ReceiveInto(PlatSocket socket, ReceiveGatherer& gatherer) {
    if (gatherer.fillCount > 0) MakeRoomFor(gatherer, PlatUdpNextDatagramSize(socket));
    int lost = 0;
    int room = kReceiveBufferSize - gatherer.fillCount;
    int received = PlatUdpReceive(socket, gatherer.receiveBuffer + gatherer.fillCount, room, &lost);
    if (received < 0) return false;
    if (lost > 0) {
        printf("ERROR, received UDP datagram too long for the receive buffer, %d bytes of it lost\n",
               lost);
    }
    gatherer.fillCount += received;
    return true;
}

// Takes in what is already waiting in the socket, without waiting for more, and hands over
// everything gathered, so that lines sent just before the stop are not lost.
void FinishReceiving(PlatSocket socket, ReceiveGatherer& gatherer) {
    for (int taken = 0; taken < kFinalReadLimit && PacketQueueHasRoom(); ++taken) {
        if (!ReceiveInto(socket, gatherer)) break;
        HandleGatheredBytes(gatherer);
    }
    if (gatherer.fillCount > 0 && PacketQueueHasRoom()) {
        PushPacket(gatherer.receiveBuffer, gatherer.fillCount);
        ResetGatherer(gatherer);
    }
}

void ReceiverThreadBody(intptr_t argument) { ReceiverThreadProc(static_cast<PlatSocket>(argument)); }

}  // namespace

bool StartReceiver(PlatSocket socket) {
    if (intakeState.receiverThread != nullptr) return false;
    intakeState.receiverThread = PlatThreadStart(ReceiverThreadBody, static_cast<intptr_t>(socket));
    return true;
}

void StopReceiver() {
    if (intakeState.receiverThread != nullptr) {
        intakeState.stopRequested.store(1, std::memory_order_relaxed);
        PlatSleepMs(intakeState.pollIntervalMs.load(std::memory_order_relaxed));
        // The thread must have ended before the event is closed and the buffers are released.
        PlatThreadJoin(intakeState.receiverThread);
        intakeState.receiverThread = nullptr;
    }
    if (intakeState.dataEvent != nullptr) {
        PlatEventClose(intakeState.dataEvent);
        intakeState.dataEvent = nullptr;
    }
}

void ReceiverThreadProc(PlatSocket socket) {
    ReceiveGatherer gatherer;
    ResetGatherer(gatherer);
    // The wait's time-out is fixed when the thread starts.
    int timeoutUs = intakeState.pollIntervalMs.load(std::memory_order_relaxed) * 1000;
    bool readable = false;  // the last wait found data; the socket is read until it is empty
    bool tookData = false;  // datagrams were taken in since the last gathering pause
    for (;;) {
        if (StopRequested()) {
            FinishReceiving(socket, gatherer);
            return;
        }
        // While datagrams are waiting they are taken one after the other; the socket is waited on
        // only once it is empty, which saves a system call per datagram under load.
        if (readable && ReceiveInto(socket, gatherer)) {
            HandleGatheredBytes(gatherer);
            tookData = true;
            continue;
        }
        if (readable && tookData) {
            tookData = false;
            PlatSleepUs(kGatherMoreUs);
            continue;
        }
        readable = false;
        int ready = PlatUdpWaitReadable(socket, gatherer.fillCount > 0 ? timeoutUs : kEmptyWaitUs);
        if (ready == 0) {
            HandOverIdleChunk(gatherer);
            continue;
        }
        if (ready < 0) {
            printf("recv_timeout: select() error : %d . Closing connection (socket:%d)",
                   PlatSocketLastError(), static_cast<int>(socket));
            return;
        }
        readable = true;
    }
}
