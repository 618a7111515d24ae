// The lock-free single-producer, single-consumer ring of received chunks.
#include "intake/packet_queue.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "intake/intake_counters.h"
#include "intake/intake_messages.h"

PacketQueue packetQueue;
IntakeState intakeState = {{0}, {0}, {kNormalPollIntervalMs}, nullptr, nullptr, {1}, {0}};

namespace {

int32_t NextIndex(int32_t index) { return (index + 1) % kQueueSlotCount; }

// The ring is empty again: the consumer has caught up, so the congested state ends.
void EndCongestion() {
    intakeState.pollIntervalMs.store(kNormalPollIntervalMs, std::memory_order_relaxed);
    intakeState.queueFull.store(0, std::memory_order_relaxed);
}

// The consumer is about to wait on dataEvent: every push from now on signals it. True when an
// entry is queued already, so that the wait must be skipped (its signal may never come).
bool PrepareToWait() {
    intakeState.consumerMayWait.store(1, std::memory_order_seq_cst);
    return packetQueue.writeIndex.load(std::memory_order_seq_cst) !=
           packetQueue.readIndex.load(std::memory_order_relaxed);
}

// The consumer is awake and will look at the ring again before it next waits.
void ConsumerAwake() { intakeState.consumerMayWait.store(0, std::memory_order_relaxed); }

}  // namespace

ChunkWait WaitForChunks(int timeoutMs) {
    PlatWaitResult result = PrepareToWait() ? PlatWaitResult::Signalled
                                            : PlatEventWait(intakeState.dataEvent, timeoutMs);
    ConsumerAwake();
    if (result == PlatWaitResult::TimedOut) return ChunkWait::TimedOut;
    if (result == PlatWaitResult::Failed) return ChunkWait::Failed;
    // A signal that came while the consumer was deciding not to wait is stale now.
    PlatEventReset(intakeState.dataEvent);
    return ChunkWait::Ready;
}

void ResetIntakeState() {
    for (QueueEntry& slot : packetQueue.slots) slot.length = 0;
    packetQueue.readIndex.store(0);
    packetQueue.writeIndex.store(0);
    intakeState.queueFull.store(0);
    intakeState.stopRequested.store(0);
    intakeState.pollIntervalMs.store(kNormalPollIntervalMs);
    if (intakeState.dataEvent != nullptr) PlatEventClose(intakeState.dataEvent);
    intakeState.dataEvent = nullptr;
    intakeState.receiverThread = nullptr;
    intakeState.consumerMayWait.store(1);
    intakeState.receiverEnded.store(0);
    ResetIntakeCounters();
    ResetIntakeMessages();
}

bool CreatePacketQueue() {
    for (QueueEntry& slot : packetQueue.slots) slot.data = nullptr;
    for (QueueEntry& slot : packetQueue.slots) {
        slot.data = static_cast<char*>(malloc(kQueueEntrySize));
        if (slot.data == nullptr) {
            printf("Error: Out of memory of create UDP packet queue\n");
            FreePacketQueue();
            return false;
        }
    }
    return true;
}

void FreePacketQueue() {
    for (QueueEntry& slot : packetQueue.slots) {
        if (slot.data != nullptr) {
            free(slot.data);
            slot.data = nullptr;
        }
    }
}

bool PushPacket(const char* data, int length, int consoleSkip, const PlatAddress* sender,
                bool continues) {
    int32_t write = packetQueue.writeIndex.load(std::memory_order_relaxed);
    int32_t next = NextIndex(write);
    if (next == packetQueue.readIndex.load(std::memory_order_acquire)) {
        MarkQueueFull();
        PostIntakeMessage(IntakeMessageCode::QueueFull, length);
        return false;
    }
    if (length < 0) length = 0;
    if (length > kQueueEntrySize) length = kQueueEntrySize;
    QueueEntry& slot = packetQueue.slots[write];
    memcpy(slot.data, data, static_cast<size_t>(length));
    slot.length = length;
    slot.consoleSkip = consoleSkip;
    slot.continues = continues;
    if (sender != nullptr) {
        slot.sender = *sender;
    } else {
        slot.sender.family = 0;
    }
    // Sequentially consistent, like the consumer's side in PrepareToWait: either this push sees
    // that the consumer may wait and signals, or the consumer sees the new entry and does not wait.
    packetQueue.writeIndex.store(next, std::memory_order_seq_cst);
    if (intakeState.consumerMayWait.load(std::memory_order_seq_cst) != 0)
        PlatEventSignal(intakeState.dataEvent);
    return true;
}

void MarkQueueFull() {
    intakeState.pollIntervalMs.store(0, std::memory_order_relaxed);
    intakeState.queueFull.store(1, std::memory_order_relaxed);
    PlatEventSignal(intakeState.dataEvent);
}

bool PacketQueueHasRoom() {
    int32_t write = packetQueue.writeIndex.load(std::memory_order_relaxed);
    return NextIndex(write) != packetQueue.readIndex.load(std::memory_order_acquire);
}

int PacketQueueFreeSlots() {
    int32_t write = packetQueue.writeIndex.load(std::memory_order_relaxed);
    int32_t read = packetQueue.readIndex.load(std::memory_order_acquire);
    return (read - write - 1 + kQueueSlotCount) % kQueueSlotCount;
}

int NextPacketLength() {
    int32_t read = packetQueue.readIndex.load(std::memory_order_relaxed);
    if (read == packetQueue.writeIndex.load(std::memory_order_acquire)) return -1;
    return packetQueue.slots[read].length;
}

bool PopPacket(char* destination, int room, int* length, int* consoleSkip, PlatAddress* sender,
               bool* continues) {
    int32_t read = packetQueue.readIndex.load(std::memory_order_relaxed);
    if (read == packetQueue.writeIndex.load(std::memory_order_acquire)) {
        EndCongestion();
        return false;
    }
    QueueEntry& slot = packetQueue.slots[read];
    if (slot.length > room) {
        *length = slot.length;
        return false;
    }
    memcpy(destination, slot.data, static_cast<size_t>(slot.length));
    *length = slot.length;
    if (consoleSkip != nullptr) *consoleSkip = slot.consoleSkip;
    if (sender != nullptr) *sender = slot.sender;
    if (continues != nullptr) *continues = slot.continues;
    slot.length = 0;
    packetQueue.readIndex.store(NextIndex(read), std::memory_order_release);
    return *length > 0;
}

bool PopPacket(char* destination, int* length) {
    return PopPacket(destination, kQueueEntrySize, length);
}
