// The single-producer, single-consumer ring of the receiver thread's messages.
#include "intake/intake_messages.h"

#include <atomic>
#include <cstdio>

namespace {

IntakeMessage slots[kIntakeMessageSlots];
std::atomic<uint32_t> readIndex{0};   // moved by the main thread
std::atomic<uint32_t> writeIndex{0};  // moved by the receiver thread
std::atomic<uint64_t> lost{0};        // written by the receiver thread

uint32_t NextIndex(uint32_t index) { return (index + 1) % kIntakeMessageSlots; }

}  // namespace

bool PostIntakeMessage(IntakeMessageCode code, int64_t first, int64_t second) {
    uint32_t write = writeIndex.load(std::memory_order_relaxed);
    uint32_t next = NextIndex(write);
    if (next == readIndex.load(std::memory_order_acquire)) {
        lost.store(lost.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return false;
    }
    slots[write] = {code, first, second};
    writeIndex.store(next, std::memory_order_release);
    return true;
}

bool TakeIntakeMessage(IntakeMessage* message) {
    uint32_t read = readIndex.load(std::memory_order_relaxed);
    if (read == writeIndex.load(std::memory_order_acquire)) return false;
    *message = slots[read];
    readIndex.store(NextIndex(read), std::memory_order_release);
    return true;
}

uint64_t IntakeMessagesLost() { return lost.load(std::memory_order_relaxed); }

size_t FormatIntakeMessage(const IntakeMessage& message, char* text, size_t size) {
    int length = 0;
    switch (message.code) {
        case IntakeMessageCode::QueueFull:
            length = snprintf(text, size, "WARNING, QUEUE FULL ,%d LOST UDP PACKET!!!!\n",
                              static_cast<int>(message.first));
            break;
        case IntakeMessageCode::ForcedLineFeed:
            length = snprintf(text, size,
                              "ERROR, received UDP packet over 1024 bytes but does not "
                              "contain'\\n (line feed), discard\n");
            break;
        case IntakeMessageCode::Truncated:
            length = snprintf(text, size,
                              "ERROR, received UDP datagram too long for the receive buffer, %d "
                              "bytes of it lost\n",
                              static_cast<int>(message.first));
            break;
        case IntakeMessageCode::WaitFailed:
            length = snprintf(text, size,
                              "recv_timeout: select() error : %d . Closing connection (socket:%d)",
                              static_cast<int>(message.first), static_cast<int>(message.second));
            break;
    }
    if (length < 0) length = 0;
    if (static_cast<size_t>(length) >= size) length = size > 0 ? static_cast<int>(size - 1) : 0;
    return static_cast<size_t>(length);
}

void ResetIntakeMessages() {
    readIndex.store(0);
    writeIndex.store(0);
    lost.store(0);
}
