// The receiver thread: socket → gathering buffer → packet queue.
#include "intake/receiver.h"

#include "intake/intake_counters.h"
#include "intake/intake_messages.h"
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
/// The default mode: the most datagrams one receive takes in, each into a buffer of its own.
constexpr int kReceiveBatch = 32;
char batchBuffers[kReceiveBatch][kReceiveBufferSize];
PlatDatagram batch[kReceiveBatch];  // their buffers are set when the thread starts

bool StopRequested() { return intakeState.stopRequested.load(std::memory_order_relaxed) != 0; }

void CountReceived(int received, int lost, int64_t dropCounter) {
    CountIntake(intakeCounters.datagrams, 1);
    CountIntake(intakeCounters.bytes, static_cast<uint64_t>(received) + static_cast<uint64_t>(lost));
    if (dropCounter >= 0) NoteSystemDropCounter(static_cast<uint32_t>(dropCounter));
    if (lost > 0) {
        CountIntake(intakeCounters.truncated, 1);
        CountIntake(intakeCounters.truncatedBytes, static_cast<uint64_t>(lost));
        PostIntakeMessage(IntakeMessageCode::Truncated, lost);
    }
}

// How many datagrams one receive may take: no more than the ring surely has room for, so that a
// received datagram never waits. Each hands over at most two chunks: the bytes held before it
// (another sender's, or ones it does not fit behind) and its own.
int DatagramsTheRingHasRoomFor() {
    int count = PacketQueueFreeSlots() / 2;
    return count < 1 ? 1 : count > kReceiveBatch ? kReceiveBatch : count;
}

// Receives the datagrams already waiting, as many as the ring has room for, and applies the
// gathering rule to each in the order they came. Returns how many were taken; *drained is set
// when fewer came than were asked for (the socket is empty).
int ReceiveBatch(PlatSocket socket, ReceiveGatherer& gatherer, bool* drained) {
    // A full ring is waited for before anything is received: the datagrams wait in the socket.
    if (!WaitForRoom()) {
        *drained = true;  // a stop, and the ring stays full: nothing more is taken in
        return 0;
    }
    int asked = DatagramsTheRingHasRoomFor();
    int received = PlatUdpReceiveMany(socket, batch, asked);
    *drained = received < asked;
    for (int i = 0; i < received; ++i) {
        const PlatDatagram& datagram = batch[i];
        CountReceived(datagram.length, datagram.lostBytes, datagram.dropCounter);
        GatherDatagram(gatherer, datagram.buffer, datagram.length, datagram.sender, separateSenders);
    }
    return received > 0 ? received : 0;
}

// Hands one record of a --syslog message over, with the message's sender. A record the ring
// cannot take marks the message as lost.
struct MessageHandOver {
    const PlatAddress* sender;
    bool lost;
};

void PushRecord(const char* record, int length, int consoleSkip, void* context) {
    MessageHandOver* handOver = static_cast<MessageHandOver*>(context);
    if (!WaitForRoom() || !PushPacket(record, length, consoleSkip, handOver->sender))
        handOver->lost = true;
}

// --syslog: receives one datagram as one message and hands over its records at once. False when
// nothing could be received.
bool ReceiveMessage(PlatSocket socket) {
    int lost = 0;
    int64_t dropCounter = -1;
    PlatAddress sender;
    int received = PlatUdpReceive(socket, messageBuffer, sizeof messageBuffer, &lost, &dropCounter,
                                  &sender);
    if (received < 0) return false;
    CountReceived(received, lost, dropCounter);
    MessageHandOver handOver = {&sender, false};
    FrameSyslogMessage(messageBuffer, received, PushRecord, &handOver);
    if (handOver.lost) CountIntake(intakeCounters.droppedQueue, 1);
    return true;
}

// Takes in what is waiting in the way the mode asks for: one message, or a batch of datagrams.
// Returns how many datagrams were taken; *drained as ReceiveBatch sets it.
int TakeDatagrams(PlatSocket socket, ReceiveGatherer& gatherer, bool* drained) {
    if (!syslogReceive) return ReceiveBatch(socket, gatherer, drained);
    bool taken = ReceiveMessage(socket);
    *drained = !taken;
    return taken ? 1 : 0;
}

// Asks the socket for the system's drop count directly: datagrams dropped after the last one that
// was read are told by no datagram.
void ReadDropCounter(PlatSocket socket) {
    int64_t dropCounter = PlatUdpReadDropCounter(socket);
    if (dropCounter >= 0) NoteSystemDropCounter(static_cast<uint32_t>(dropCounter));
}

// Takes in what is already waiting in the socket, without waiting for more, and hands over
// everything gathered, so that lines sent just before the stop are not lost. The main thread
// drains the ring meanwhile, so a backlog larger than the ring is taken in whole; only a ring that
// stays full (kStopRoomWaitMs) ends the taking in early.
void FinishReceiving(PlatSocket socket, ReceiveGatherer& gatherer) {
    bool drained = false;
    for (int taken = 0; taken < kFinalReadLimit && !drained && WaitForRoom();)
        taken += TakeDatagrams(socket, gatherer, &drained);
    // The ring stays full only when the writer has stopped: the chunk is then lost, and counted.
    if (gatherer.fillCount > 0) HandOver(gatherer, gatherer.fillCount);
    ReadDropCounter(socket);
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
    for (int i = 0; i < kReceiveBatch; ++i) {
        batch[i].buffer = batchBuffers[i];
        batch[i].room = kReceiveBufferSize;
    }
    PlatUdpEnableDropCounter(socket);
    // The wait's time-out is fixed when the thread starts.
    int timeoutUs = intakeState.pollIntervalMs.load(std::memory_order_relaxed) * 1000;
    bool readable = false;  // the last wait found data; the socket is read until it is empty
    bool tookData = false;  // datagrams were taken in since the last gathering pause
    for (;;) {
        if (StopRequested()) {
            FinishReceiving(socket, gatherer);
            return;
        }
        // While datagrams are waiting they are taken in batches; the socket is waited on only
        // once it is empty, which saves a system call per batch under load. Once it is empty
        // after taking data in, the next datagrams gather for a moment, so that a stream is taken
        // in large batches instead of one wake-up for each burst.
        if (readable) {
            bool drained = false;
            if (TakeDatagrams(socket, gatherer, &drained) > 0) tookData = true;
            if (!drained) continue;
            if (tookData) {
                tookData = false;
                PlatSleepUs(kGatherMoreUs);
                continue;
            }
        }
        readable = false;
        int ready = PlatUdpWaitReadable(socket, gatherer.fillCount > 0 ? timeoutUs : kEmptyWaitUs);
        if (ready == 0) {
            if (gatherer.fillCount == 0) ReadDropCounter(socket);  // once per idle wait
            HandOverIdleChunk(gatherer);
            continue;
        }
        if (ready < 0) {
            PostIntakeMessage(IntakeMessageCode::WaitFailed, PlatSocketLastError(),
                              static_cast<int64_t>(socket));
            return;
        }
        readable = true;
    }
}
