// The receiver's gathering rule: datagrams are collected until they hold a line feed, then handed
// over to the packet queue as one chunk. Receiver thread only.
#pragma once

#include <cstdint>

#include "platform/udp_socket.h"

constexpr int kReceiveBufferSize = 1024;
/// While the queue is congested, chunks are handed over only once they exceed this many bytes.
constexpr int kCongestedBatchBytes = 768;
/// Data that grows to this many bytes without a line feed is cut off with a forced line feed.
constexpr int kForcedLineFeedBytes = 1023;
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

/// Hands the held bytes over as a chunk. A full ring is waited for as long as it takes (the datagrams
/// that follow wait in the socket, where the system counts what it cannot keep); only a stop
/// noticed while waiting makes the push fail, which loses the chunk and counts its datagrams.
void HandOver(ReceiveGatherer& gatherer, int length);

/// Empties the buffer: all bytes zero, nothing held.
void ResetGatherer(ReceiveGatherer& gatherer);

/// True when the held bytes contain a line feed (a NUL byte before it hides nothing).
bool HoldsLineFeed(const ReceiveGatherer& gatherer);

/// The length of a datagram without the NUL bytes that end it after its last line feed (a C
/// sender's string terminator), which would otherwise become the next line's marker. A datagram
/// without a line feed keeps its NUL bytes.
int WithoutStringTerminators(const char* datagram, int length);

/// Makes room for a datagram of `size` bytes that is about to be received: when it would not fit
/// behind the bytes already held, those are handed over first as a chunk of their own, so that
/// batching never costs the tail of a datagram that would have fitted an empty buffer.
void MakeRoomFor(ReceiveGatherer& gatherer, int size);

/// --sender: hands the held bytes over first when the next datagram, from `next`, comes from
/// another sender, so that a chunk only ever joins datagrams of one sender.
void KeepSendersApart(ReceiveGatherer& gatherer, const PlatAddress& next);

/// Decides what to do after a datagram's bytes were added to the buffer: hand the chunk over when
/// it holds a line feed (while the queue is congested, only once it exceeds 768 bytes), or cut off
/// 1023 bytes or more without a line feed with a forced one. Otherwise keeps gathering.
void HandleGatheredBytes(ReceiveGatherer& gatherer);

/// The socket has been idle for a poll interval: hands over a chunk that holds a line feed but was
/// held back for batching, so that no complete line waits for the next datagram.
void HandOverIdleChunk(ReceiveGatherer& gatherer);
