// The receiver thread's messages to the console. The receiver never writes to the console itself
// (a console that stops reading must never stop it): it posts a code and a number or two into a
// small lock-free ring, and the main thread formats and shows them at its next pass.
//
// Threads: PostIntakeMessage by the receiver thread only; TakeIntakeMessage by the main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

enum class IntakeMessageCode : uint8_t {
    QueueFull,        // first: bytes of the chunk lost
    ForcedLineFeed,   // no numbers
    Truncated,        // first: bytes of the datagram lost
    WaitFailed,       // first: the socket layer's error, second: the socket
};

struct IntakeMessage {
    IntakeMessageCode code;
    int64_t first;
    int64_t second;
};

constexpr int kIntakeMessageSlots = 256;

/// Queues a message. False when the ring is full: the message is then only counted (see
/// IntakeMessagesLost); the loss it tells of is counted in intakeCounters all the same.
bool PostIntakeMessage(IntakeMessageCode code, int64_t first = 0, int64_t second = 0);

/// Takes the oldest message; false when there is none.
bool TakeIntakeMessage(IntakeMessage* message);

/// Messages the full ring could not take.
uint64_t IntakeMessagesLost();

/// The text of a message, as the console shows it, into `size` bytes at `text` (NUL-terminated);
/// returns its length.
size_t FormatIntakeMessage(const IntakeMessage& message, char* text, size_t size);

/// Empties the ring and the lost count. For start-up and tests; the receiver must not run.
void ResetIntakeMessages();
