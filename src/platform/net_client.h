// Network client service: a UDP or TCP socket connected to a collector by name or address, sending
// with a time-out, and this machine's name.
#pragma once

#include "platform/udp_socket.h"

/// Resolves `host` (a name or an IPv4 or IPv6 address without brackets) and `port`, and connects
/// a datagram socket (`stream` false) or a stream socket to the first address that takes it,
/// waiting at most `timeoutMs` for each stream connection. The socket is non-blocking and never
/// raises a signal when the peer has gone. kPlatNoSocket when no address could be connected.
PlatSocket PlatNetConnect(const char* host, const char* port, bool stream, int timeoutMs);

/// Sends `length` bytes, waiting at most `timeoutMs` in all for room in the socket. True when
/// every byte went out; false on an error, a peer that went away, or the time-out (bytes may
/// then have gone out in part).
bool PlatNetSend(PlatSocket socket, const char* data, int length, int timeoutMs);

/// For a stream socket: true when the peer has closed or reset the connection. Does not wait and
/// takes nothing the peer may have sent.
bool PlatNetPeerClosed(PlatSocket socket);

void PlatNetClose(PlatSocket socket);

/// This machine's name, NUL-terminated, cut to fit; false when it cannot be read.
bool PlatNetHostName(char* out, int size);
