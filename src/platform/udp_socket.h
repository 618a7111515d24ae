// UDP socket service: one datagram socket bound to all local IPv4 addresses, or to one address
// (IPv4 or IPv6; "::" is every IPv4 and IPv6 address).
#pragma once

#include <cstdint>

/// A socket handle, wide enough for any platform's; kPlatNoSocket when there is none.
using PlatSocket = intptr_t;
constexpr PlatSocket kPlatNoSocket = -1;

/// A datagram's sender: an IPv4 or IPv6 address and a port, the same on every platform. A plain
/// value of fixed size, copied through the ring with the bytes; family 0 means "not known".
/// An IPv4 sender that reached an IPv6 socket (an IPv4-mapped address) is kept as IPv4.
struct PlatAddress {
    uint8_t family;     // 0 unknown, 4 IPv4 (bytes 0..3), 6 IPv6 (bytes 0..15)
    uint8_t unused;
    uint16_t port;      // host order
    uint8_t bytes[16];  // network order
};

/// Longest text PlatFormatAddress writes, with its NUL: "[" + 45 + "]:" + 5 digits + NUL.
constexpr int kPlatAddressTextSize = 56;

/// True when both name the same sender (address and port).
inline bool PlatSameAddress(const PlatAddress& a, const PlatAddress& b) {
    if (a.family != b.family || a.port != b.port) return false;
    for (int i = 0; i < 16; ++i) {
        if (a.bytes[i] != b.bytes[i]) return false;
    }
    return true;
}

/// Writes `address` as text into `text` (kPlatAddressTextSize bytes): "192.0.2.7:5000", or
/// "[2001:db8::7]:5000" for IPv6. Returns the length, 0 (and an empty text) when not known.
int PlatFormatAddress(const PlatAddress& address, char* text);

/// True when `text` is a numeric IPv4 address (four decimal parts) or IPv6 address (a %scope
/// allowed); names are never looked up.
bool PlatIsNumericAddress(const char* text);

/// Creates a UDP socket of the family of `address` (see PlatIsNumericAddress; nullptr or empty:
/// IPv4); kPlatNoSocket on failure (PlatSocketLastError tells why).
PlatSocket PlatUdpOpen(const char* address = nullptr);

/// Binds the socket to `address` and `port` (already reduced to 16 bits); nullptr or empty binds
/// every IPv4 address, "::" every IPv4 and IPv6 address (dual stack).
bool PlatUdpBind(PlatSocket socket, uint16_t port, const char* address = nullptr);

/// Switches the socket to non-blocking mode.
bool PlatUdpSetNonBlocking(PlatSocket socket);

/// Asks for a kernel receive buffer of `bytes`, past the system's cap where the process has the
/// privilege for it; returns the size granted (0 if unknown).
int PlatUdpSetReceiveBuffer(PlatSocket socket, int bytes);

/// The command that raises the system's cap on receive buffers, followed by the size wanted in
/// bytes ("sysctl -w net.core.rmem_max=" on Linux); nullptr where there is no such cap.
const char* PlatUdpReceiveBufferLimitCommand();

/// Waits until the socket is readable, at most `timeoutUs` microseconds (the time-out is set
/// afresh for every call). Returns 1 when readable, 0 on time-out, -1 on error.
int PlatUdpWaitReadable(PlatSocket socket, int timeoutUs);

/// Asks the system to hand its count of datagrams dropped on this socket (receive buffer full) to
/// every received datagram. False where there is no such count (Windows).
bool PlatUdpEnableDropCounter(PlatSocket socket);

/// Receives one datagram into `room` bytes at `buffer`. Returns the bytes stored (0 for an empty
/// datagram) or -1 on error (nothing waiting on a non-blocking socket is an error too). When the
/// datagram was larger than the room, the part that fits is stored and `*lostBytes` tells how many
/// bytes did not fit; otherwise it is 0. With `dropCounter` given, it is set to the system's
/// 32-bit count of datagrams dropped on the socket as the datagram brought it along, or -1 when
/// it brought none (nothing dropped yet, the counter not enabled, or no such count). The sender
/// goes to `*sender` when it is given (family 0 when nothing was received).
int PlatUdpReceive(PlatSocket socket, char* buffer, int room, int* lostBytes,
                   int64_t* dropCounter = nullptr, PlatAddress* sender = nullptr);

/// The system's count of datagrams dropped on the socket, asked for directly; -1 where unknown.
int64_t PlatUdpReadDropCounter(PlatSocket socket);

/// One datagram of PlatUdpReceiveMany: the caller gives `buffer` and its `room`; the call fills in
/// the rest.
struct PlatDatagram {
    char* buffer;
    int room;
    int length;           // bytes stored, at most `room` (0 for an empty datagram)
    int lostBytes;        // bytes of the datagram that did not fit (it was cut); otherwise 0
    int64_t dropCounter;  // as PlatUdpReceive's dropCounter: the system's count, or -1
    PlatAddress sender;
};

/// The most datagrams one PlatUdpReceiveMany call takes.
constexpr int kPlatReceiveManyMax = 64;

/// Receives the datagrams already waiting, up to `count` (at most kPlatReceiveManyMax), without
/// waiting for more: each into its entry of `datagrams`, in the order they came. Returns how many
/// were received (0 when none is waiting), or -1 on an error.
int PlatUdpReceiveMany(PlatSocket socket, PlatDatagram* datagrams, int count);

/// The port the socket is bound to (host order), or -1.
int PlatUdpLocalPort(PlatSocket socket);

/// Closes the socket (the server closes only one it could not bind; it keeps its own to the end).
void PlatUdpClose(PlatSocket socket);

/// The socket layer's last error code on this thread.
int PlatSocketLastError();

/// True when the last error only means "no datagram is waiting".
bool PlatSocketWouldBlock(int errorCode);
