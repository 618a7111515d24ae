// The lock-free ring of received chunks between the receiver thread and the main thread, and the
// small state that couples the two threads.
//
// Threads: PushPacket is called by the receiver thread only; PopPacket, NextPacketLength,
// CreatePacketQueue and FreePacketQueue by the main thread only. The flags and the poll interval
// may be read or written by either thread at any time.
#pragma once

#include <atomic>
#include <cstdint>

#include "intake/intake_sizes.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"

constexpr int kQueueSlotCount = 1024;
constexpr int32_t kNormalPollIntervalMs = 10;
/// After taking data in, a thread lets more gather for this long before it looks again, so that a
/// stream is handled in batches and the threads are not woken for every datagram. Well under the
/// latency a watcher could see.
constexpr int kGatherMoreUs = 250;

struct QueueEntry {
    int32_t length;  // bytes held; 0 when free or just consumed
    char* data;      // kQueueEntrySize bytes owned by the queue, or nullptr
    int32_t consoleSkip;  // leading text bytes of the entry's first line the console does not show
    PlatAddress sender;   // the sender of the entry's bytes (family 0: not known)
    bool continues;       // its last byte is a forced line feed: the line goes on in the next
                          // entry of its sender
};

struct PacketQueue {
    QueueEntry slots[kQueueSlotCount];
    // Each index is written by one side only; they sit on separate cache lines so that the
    // producer and the consumer do not keep stealing one line from each other.
    alignas(64) std::atomic<int32_t> readIndex;   // oldest queued entry; moved by the consumer
    alignas(64) std::atomic<int32_t> writeIndex;  // next free slot; moved by the producer
};

struct IntakeState {
    std::atomic<uint8_t> queueFull;        // set by a push into a full ring, cleared by an empty pop
    std::atomic<uint8_t> stopRequested;    // asks the receiver thread to end
    std::atomic<int32_t> pollIntervalMs;   // 10 normally, 0 while congested
    PlatEvent dataEvent;                   // signalled by pushes while the consumer may wait
    PlatThread receiverThread;             // the receiver thread, or nullptr
    // 1 while the consumer may be waiting on dataEvent (and at first): only then does a
    // successful push need to signal it. A failed push always signals. See WaitForChunks.
    std::atomic<uint8_t> consumerMayWait;
    std::atomic<uint8_t> receiverEnded;    // set by the receiver thread as its last act
};

extern PacketQueue packetQueue;
extern IntakeState intakeState;

/// Allocates all slot buffers once; false (with a message) if memory runs out.
bool CreatePacketQueue();

/// Releases every allocated slot buffer; safe on a queue never created or already freed.
void FreePacketQueue();

/// Queues a copy of `length` bytes (1..1024). False, with the full-queue warning posted to the
/// main thread (see intake_messages.h), when the ring is full; the event is signalled either way.
/// `consoleSkip` travels with the entry (a syslog <PRI> the console hides), and so does `sender`
/// (nullptr: not known), and so does `continues` (the last byte is a forced line feed).
bool PushPacket(const char* data, int length, int consoleSkip = 0,
                const PlatAddress* sender = nullptr, bool continues = false);

/// Copies the oldest entry (up to 1024 bytes) to `destination` and frees its slot. False when the
/// ring is empty (which also ends the congested state) or the entry was empty.
bool PopPacket(char* destination, int* length);

/// As PopPacket, but never writes more than `room` bytes: an entry larger than the room is left
/// in the ring and false is returned with *length set to the entry's length. The entry's console
/// skip goes to *consoleSkip, its sender to *sender and its forced-line-feed mark to *continues
/// when they are given.
bool PopPacket(char* destination, int room, int* length, int* consoleSkip = nullptr,
               PlatAddress* sender = nullptr, bool* continues = nullptr);

/// The length of the oldest queued entry, or -1 when the ring is empty. Changes nothing.
int NextPacketLength();

/// The ring was found full: enters the congested state (batching, no poll interval) and wakes the
/// consumer. Producer side; a push into a full ring does this itself.
void MarkQueueFull();

/// True when a push would find a free slot. Producer side.
bool PacketQueueHasRoom();

/// How many pushes in a row surely find a free slot. Producer side.
int PacketQueueFreeSlots();

/// What WaitForChunks found.
enum class ChunkWait {
    Ready,     // chunks are queued (or a push failed on a full ring): drain the ring
    TimedOut,  // nothing arrived within the time-out
    Failed,    // the data event cannot be waited on
};

/// Main thread: waits at most `timeoutMs` milliseconds for queued chunks, and returns at once when
/// some are queued already. The whole wake-up protocol between the two threads lives here: the
/// consumer announces that it may wait, so that every push from then on signals the data event,
/// looks at the ring once more (a push that came before the announcement signalled nothing), waits,
/// and declares itself awake again, so that pushes need not signal while it drains.
ChunkWait WaitForChunks(int timeoutMs);

/// Puts the ring and every field of intakeState back as a fresh run has them: no entries, no
/// flags, the normal poll interval, no thread and no event (one still open is closed), no counts
/// and no messages. The slot buffers stay as they are. For start-up and for tests; no other thread may run.
void ResetIntakeState();
