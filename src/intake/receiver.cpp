// The receiver thread: socket → gathering buffer → packet queue.
#include "intake/receiver.h"

#include <cstdio>

#include "intake/packet_queue.h"
#include "intake/receive_gatherer.h"
#include "intake/syslog_framing.h"

namespace {

/// At shutdown, at most this many datagrams already waiting in the socket are still taken in, so
/// that a flood cannot hold the shutdown up.
constexpr int kFinalReadLimit = 4096;

/// While nothing is held the wait's time-out has nothing to hand over, so the thread sleeps
/// longer and wakes the processor ten times a second instead of a hundred. A stop is then noticed
/// within this time.
constexpr int kEmptyWaitUs = 100 * 1000;

// Set by StartReceiver before the thread starts; read by the thread only.
bool syslogReceive = false;
// --sender: datagrams of different senders are never gathered into one chunk.
bool separateSenders = false;

// --syslog: a whole datagram, received at once. Allocated with the program, never per message.
char messageBuffer[kSyslogMessageSize + 1];

bool StopRequested() { return intakeState.stopRequested.load(std::memory_order_relaxed) != 0; }

// Receives one datagram behind the bytes already held. False when nothing could be received.
bool ReceiveInto(PlatSocket socket, ReceiveGatherer& gatherer) {
    if (gatherer.fillCount > 0) {
        PlatAddress next;
        int size = PlatUdpNextDatagramSize(socket, &next);
        if (separateSenders && size >= 0) KeepSendersApart(gatherer, next);
        MakeRoomFor(gatherer, size);
    }
    int lost = 0;
    int room = kReceiveBufferSize - gatherer.fillCount;
    PlatAddress sender;
    int received =
        PlatUdpReceive(socket, gatherer.receiveBuffer + gatherer.fillCount, room, &lost, &sender);
    if (received < 0) return false;
    if (gatherer.fillCount == 0) gatherer.sender = sender;  // a chunk carries its first sender
    if (lost > 0) {
        printf("ERROR, received UDP datagram too long for the receive buffer, %d bytes of it lost\n",
               lost);
    }
    // The dropped terminators are zero bytes, as the buffer is past fillCount anyway.
    gatherer.fillCount += WithoutStringTerminators(gatherer.receiveBuffer + gatherer.fillCount, received);
    return true;
}

// `context` is the message's sender. A failed push reports itself and drops the record.
void PushRecord(const char* record, int length, int consoleSkip, void* context) {
    WaitForRoom();
    PushPacket(record, length, consoleSkip, static_cast<const PlatAddress*>(context));
}

// --syslog: receives one datagram as one message and hands over its records at once. False when
// nothing could be received.
bool ReceiveMessage(PlatSocket socket) {
    int lost = 0;
    PlatAddress sender;
    int received = PlatUdpReceive(socket, messageBuffer, sizeof messageBuffer, &lost, &sender);
    if (received < 0) return false;
    if (lost > 0) {
        printf("ERROR, received UDP datagram too long for the receive buffer, %d bytes of it lost\n",
               lost);
    }
    FrameSyslogMessage(messageBuffer, received, PushRecord, &sender);
    return true;
}

// Takes one datagram in the way the mode asks for. False when nothing could be received.
bool TakeDatagram(PlatSocket socket, ReceiveGatherer& gatherer) {
    if (syslogReceive) return ReceiveMessage(socket);
    if (!ReceiveInto(socket, gatherer)) return false;
    HandleGatheredBytes(gatherer);
    return true;
}

// Takes in what is already waiting in the socket, without waiting for more, and hands over
// everything gathered, so that lines sent just before the stop are not lost. The main thread
// drains the ring meanwhile, so a backlog larger than the ring is taken in whole; only a ring that
// stays full (kStopRoomWaitMs) ends the taking in early.
void FinishReceiving(PlatSocket socket, ReceiveGatherer& gatherer) {
    for (int taken = 0; taken < kFinalReadLimit && WaitForRoom(); ++taken) {
        if (!TakeDatagram(socket, gatherer)) break;
    }
    if (gatherer.fillCount > 0 && WaitForRoom()) {
        PushPacket(gatherer.receiveBuffer, gatherer.fillCount, 0, &gatherer.sender);
        ResetGatherer(gatherer);
    }
}

void ReceiverThreadBody(intptr_t argument) {
    ReceiverThreadProc(static_cast<PlatSocket>(argument));
    intakeState.receiverEnded.store(1, std::memory_order_release);
}

}  // namespace

bool StartReceiver(PlatSocket socket, bool syslogMode, bool keepSendersApart) {
    if (intakeState.receiverThread != nullptr) return false;
    syslogReceive = syslogMode;
    separateSenders = keepSendersApart;
    intakeState.receiverEnded.store(0, std::memory_order_relaxed);
    intakeState.receiverThread = PlatThreadStart(ReceiverThreadBody, static_cast<intptr_t>(socket));
    return true;
}

void RequestReceiverStop() { intakeState.stopRequested.store(1, std::memory_order_relaxed); }

bool ReceiverEnded() {
    return intakeState.receiverThread == nullptr ||
           intakeState.receiverEnded.load(std::memory_order_acquire) != 0;
}

void StopReceiver() {
    if (intakeState.receiverThread != nullptr) {
        RequestReceiverStop();
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
    for (;;) {
        if (StopRequested()) {
            FinishReceiving(socket, gatherer);
            return;
        }
        // While datagrams are waiting they are taken one after the other; the socket is waited on
        // only once it is empty, which saves a system call per datagram under load.
        if (readable && TakeDatagram(socket, gatherer)) continue;
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
