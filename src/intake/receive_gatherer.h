// The receiver's gathering rule: datagrams are collected until they hold a line feed, then handed
// over to the packet queue as one chunk. Receiver thread only.
#pragma once

#include <cstdint>

#include "intake/intake_sizes.h"
#include "platform/udp_socket.h"

/// While the queue is congested, chunks are handed over only once they exceed this many bytes.
constexpr int kCongestedBatchBytes = 768;
/// At a stop, how long a hand-over waits for the main thread to free a slot of a full ring.
constexpr int kStopRoomWaitMs = 1000;

struct ReceiveGatherer {
    char receiveBuffer[kReceiveBufferSize];  // all zero after every hand-over
    int32_t fillCount;                       // bytes held, 0..1024
    int32_t datagrams;                       // datagrams whose bytes are held (for loss counts)
    PlatAddress sender;                      // the sender of the first datagram held
};

/// Waits until the ring has a free slot; true when it has one. The ring is marked full at once, so
/// that the writer drains it in batches, and the receiver waits as long as it takes (the datagrams
/// that follow wait in the socket, where the system counts what it cannot keep). Once a stop is
/// asked for it gives up after kStopRoomWaitMs without room.
bool WaitForRoom();

/// Hands the first `length` held bytes over as a chunk (`continues`: its last byte is a forced
/// line feed, see QueueEntry) and empties the buffer. A full ring is waited for as long as it
/// takes (the datagrams that follow wait in the socket, where the system counts what it cannot
/// keep); only a stop noticed while waiting makes the push fail, which loses the chunk and counts
/// its datagrams.
void HandOver(ReceiveGatherer& gatherer, int length, bool continues = false);

/// Empties the buffer: all bytes zero, nothing held.
void ResetGatherer(ReceiveGatherer& gatherer);

/// The gathering rule, applied to every received datagram (`length` bytes from `sender`) in the
/// order they came:
/// - with `keepSendersApart` (--sender), bytes of another sender are handed over first, so that a
///   chunk only ever joins datagrams of one sender;
/// - bytes that the datagram would not fit behind are handed over first, so that batching never
///   costs the tail of a datagram that would have fitted an empty buffer;
/// - the datagram's trailing run of NUL bytes ends its line (see EndLineAtTrailingNuls);
/// - a chunk that holds a line feed is handed over (while the queue is congested, only once it
///   exceeds kCongestedBatchBytes);
/// - kForcedLineFeedBytes without a line feed are handed over with a forced line feed behind
///   them; a byte beyond them stays held, as the start of the line's continuation (the line
///   assembler gives the continuation the line's marker).
void GatherDatagram(ReceiveGatherer& gatherer, const char* datagram, int length,
                    const PlatAddress& sender, bool keepSendersApart);

/// The socket has been idle for a poll interval: hands over a chunk that holds a line feed but was
/// held back for batching, so that no complete line waits for the next datagram.
void HandOverIdleChunk(ReceiveGatherer& gatherer);
