// The queue between the main thread and one forwarding thread: a lock-free ring of messages of
// varying length, allocated once. The main thread only pushes; the forwarding thread reads
// messages in place and releases them once they have gone out, so that a collector that is away
// leaves them queued.
#pragma once

#include <atomic>
#include <cstdint>

/// Most messages the ring holds at once.
constexpr uint64_t kForwardRingMessages = 10000;
/// Bytes the ring holds: 10,000 messages of up to about 400 bytes.
constexpr uint64_t kForwardRingBytes = 4 * 1024 * 1024;

struct ForwardRing {
    char* data = nullptr;  // kForwardRingBytes, or nullptr
    // Byte positions and message counts only grow; each side writes its own pair, on its own
    // cache line, so that the two threads do not keep taking the line from each other.
    alignas(64) std::atomic<uint64_t> writePosition{0};  // main thread
    std::atomic<uint64_t> pushed{0};
    alignas(64) std::atomic<uint64_t> readPosition{0};  // forwarding thread
    std::atomic<uint64_t> released{0};
    alignas(64) char pad = 0;
};

/// Allocates the ring's bytes; false when they could not be had.
bool CreateForwardRing(ForwardRing& ring);
void FreeForwardRing(ForwardRing& ring);

/// Main thread: queues a copy of `length` bytes; false (nothing queued) when the ring is full.
bool PushForwardMessage(ForwardRing& ring, const char* bytes, int length);

/// Forwarding thread: the message at `position` (start at readPosition), its bytes left in place
/// until released, and the position after it. False when no message is there yet.
bool PeekForwardMessage(ForwardRing& ring, uint64_t position, const char** bytes, int* length,
                        uint64_t* next);

/// Forwarding thread: gives back the room of `count` messages, up to `position`.
void ReleaseForwardMessages(ForwardRing& ring, uint64_t position, uint64_t count);

/// Messages queued and not yet released.
uint64_t QueuedForwardMessages(const ForwardRing& ring);
