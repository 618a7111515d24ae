// Network client service: a name lookup that a stop can abandon, a UDP or TCP socket connected to
// a collector, sending without waiting, what the peer has acknowledged, and this machine's name.
// One thread uses a lookup or a socket; PlatNetErrorText is for any thread.
#pragma once

#include "platform/udp_socket.h"

struct PlatNetLookupObject;
/// A name lookup running on a thread of its own; nullptr means "none".
using PlatNetLookup = PlatNetLookupObject*;

/// Starts looking up `host` (a name or an IPv4 or IPv6 address without brackets) and `port`
/// (decimal digits) for a datagram (`stream` false) or a stream socket. nullptr, with the
/// system's error in *error, when the lookup could not be started.
PlatNetLookup PlatNetLookupStart(const char* host, const char* port, bool stream, int* error);

/// Waits at most `timeoutMs` for the lookup: 1 when it found addresses, -1 when it failed (the
/// reason in *error), 0 while it is still running.
int PlatNetLookupWait(PlatNetLookup lookup, int timeoutMs, int* error);

/// Connects a socket to the first address of a finished lookup that takes it, waiting at most
/// `timeoutMs` for each stream connection. The socket is non-blocking, never raises a signal when
/// the peer has gone, and a stream socket finds a dead peer by itself (keep-alive and a time-out
/// for unacknowledged data, where the system has them). kPlatNoSocket, with the reason in *error,
/// when no address took it.
PlatSocket PlatNetConnectFound(PlatNetLookup lookup, int timeoutMs, int* error);

/// Ends the caller's use of a lookup. One still running is abandoned: it ends on its own thread,
/// which then releases it. A null lookup is ignored.
void PlatNetLookupEnd(PlatNetLookup lookup);

/// Sends what the socket takes now, without waiting: the number of bytes taken (0 when it has no
/// room), or -1 with the reason in *error when the socket failed. A datagram goes whole or not.
int PlatNetSendSome(PlatSocket socket, const char* data, int length, int* error);

/// Waits at most `timeoutMs` until the socket has room to send or has failed.
void PlatNetWaitWritable(PlatSocket socket, int timeoutMs);

/// For a stream socket: the bytes sent that the peer has not acknowledged yet. False when the
/// system cannot tell; bytes the socket took then count as delivered.
bool PlatNetUnacknowledged(PlatSocket socket, int* bytes);

/// An error reported on the socket (for a datagram socket, a refusal by the peer), waiting at
/// most `timeoutMs` for one; 0 when there is none. Takes the error.
int PlatNetPendingError(PlatSocket socket, int timeoutMs);

/// For a stream socket: 0 while the connection is up; 1 when the peer closed it in order (it
/// read every byte it acknowledged: a peer that closes with bytes unread resets instead); -1 when
/// it was reset or failed. Does not wait and takes nothing the peer may have sent.
int PlatNetPeerState(PlatSocket socket);

/// True when a send's error means the peer had closed in order before it (see PlatNetPeerState).
bool PlatNetClosedInOrder(int error);

void PlatNetClose(PlatSocket socket);

/// The system's words for an error of the functions above ("Connection refused").
const char* PlatNetErrorText(int error);

/// This machine's name, NUL-terminated, cut to fit; false when it cannot be read.
bool PlatNetHostName(char* out, int size);
