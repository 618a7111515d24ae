// The lock-free message ring between the main thread and one forwarding thread.
#include "output/forward_ring.h"

#include <cstdlib>
#include <cstring>

namespace {

// Each message is a 32-bit length and its bytes, starting on an 8-byte boundary. A message that
// does not fit before the end starts at the beginning; this length marks the jump.
constexpr uint32_t kWrapMark = 0xFFFFFFFFu;
constexpr uint64_t kHeaderBytes = sizeof(uint32_t);

uint64_t RecordBytes(uint64_t length) { return (kHeaderBytes + length + 7) & ~uint64_t{7}; }

uint64_t NextLap(uint64_t position) { return (position / kForwardRingBytes + 1) * kForwardRingBytes; }

}  // namespace

bool CreateForwardRing(ForwardRing& ring) {
    ring.data = static_cast<char*>(malloc(kForwardRingBytes));
    ring.writePosition = 0;
    ring.pushed = 0;
    ring.readPosition = 0;
    ring.released = 0;
    return ring.data != nullptr;
}

void FreeForwardRing(ForwardRing& ring) {
    free(ring.data);
    ring.data = nullptr;
}

bool PushForwardMessage(ForwardRing& ring, const char* bytes, int length) {
    uint64_t position = ring.writePosition.load(std::memory_order_relaxed);
    uint64_t read = ring.readPosition.load(std::memory_order_acquire);
    uint64_t pushed = ring.pushed.load(std::memory_order_relaxed);
    if (pushed - ring.released.load(std::memory_order_acquire) >= kForwardRingMessages) return false;
    uint64_t size = RecordBytes(static_cast<uint64_t>(length));
    uint64_t offset = position % kForwardRingBytes;
    // A message that does not fit before the end goes to the beginning.
    uint64_t start = offset + size > kForwardRingBytes ? NextLap(position) : position;
    if (start + size - read > kForwardRingBytes) return false;
    if (start != position) memcpy(ring.data + offset, &kWrapMark, kHeaderBytes);
    char* record = ring.data + start % kForwardRingBytes;
    uint32_t stored = static_cast<uint32_t>(length);
    memcpy(record, &stored, kHeaderBytes);
    memcpy(record + kHeaderBytes, bytes, static_cast<size_t>(length));
    ring.pushed.store(pushed + 1, std::memory_order_relaxed);
    // Sequentially consistent, like the forwarding thread's announcement that it sleeps: either
    // the producer sees that flag and wakes it, or the thread sees the new message and stays awake.
    ring.writePosition.store(start + size, std::memory_order_seq_cst);
    return true;
}

bool PeekForwardMessage(ForwardRing& ring, uint64_t position, const char** bytes, int* length,
                        uint64_t* next) {
    for (;;) {
        if (position == ring.writePosition.load(std::memory_order_acquire)) return false;
        const char* record = ring.data + position % kForwardRingBytes;
        uint32_t stored;
        memcpy(&stored, record, kHeaderBytes);
        if (stored == kWrapMark) {
            position = NextLap(position);
            continue;
        }
        *bytes = record + kHeaderBytes;
        *length = static_cast<int>(stored);
        *next = position + RecordBytes(stored);
        return true;
    }
}

void ReleaseForwardMessages(ForwardRing& ring, uint64_t position, uint64_t count) {
    ring.released.store(ring.released.load(std::memory_order_relaxed) + count,
                        std::memory_order_release);
    ring.readPosition.store(position, std::memory_order_release);
}

uint64_t QueuedForwardMessages(const ForwardRing& ring) {
    return ring.pushed.load(std::memory_order_acquire) - ring.released.load(std::memory_order_acquire);
}
