// UDP socket service on Windows: Winsock 2.2, started once by the first socket that is opened
// (or the first IPv6 address that is read).
#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "platform/socket_address.h"

namespace {

// Takes whatever part of a datagram does not fit the caller's room, so that the receive reports
// the datagram's full size instead of failing with WSAEMSGSIZE. Only the socket layer writes it
// and nothing ever reads it, so receivers on several threads may share it.
char discardArea[65536];

SOCKET SocketOf(PlatSocket socket) { return static_cast<SOCKET>(socket); }

bool StartWinsock() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

// The first call starts Winsock 2.2; the result is not looked at, as a failed start makes the
// socket calls that follow fail with their own error code. Winsock is never shut down: it ends
// with the process.
void EnsureWinsock() {
    static const bool winsockStarted = StartWinsock();
    (void)winsockStarted;
}

bool ResolveAddress(const char* text, uint16_t port, sockaddr_storage* out, int* length) {
    EnsureWinsock();  // the resolver needs it
    return socket_address::Resolve(text, port, out, length);
}

}  // namespace

int PlatFormatAddress(const PlatAddress& address, char* text) {
    return socket_address::Format(address, text);
}

bool PlatIsNumericAddress(const char* text) {
    EnsureWinsock();  // the resolver needs it
    return socket_address::IsNumeric<int>(text);
}

PlatSocket PlatUdpOpen(const char* address) {
    EnsureWinsock();
    sockaddr_storage resolved;
    int length;
    if (!ResolveAddress(address, 0, &resolved, &length)) {
        WSASetLastError(WSAEINVAL);
        return kPlatNoSocket;
    }
    SOCKET s = socket(resolved.ss_family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return kPlatNoSocket;
    if (resolved.ss_family == AF_INET6) {
        // "::" takes IPv4 senders too; Windows makes IPv6 sockets IPv6-only by default.
        DWORD v6Only = 0;
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6Only),
                   sizeof v6Only);
    }
    return static_cast<PlatSocket>(s);
}

bool PlatUdpBind(PlatSocket socket, uint16_t port, const char* address) {
    sockaddr_storage resolved;
    int length;
    if (!ResolveAddress(address, port, &resolved, &length)) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return bind(SocketOf(socket), reinterpret_cast<const sockaddr*>(&resolved), length) == 0;
}

bool PlatUdpSetNonBlocking(PlatSocket socket) {
    u_long nonBlocking = 1;
    return ioctlsocket(SocketOf(socket), FIONBIO, &nonBlocking) == 0;
}

int PlatUdpSetReceiveBuffer(PlatSocket socket, int bytes) {
    setsockopt(SocketOf(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
    int granted = 0;
    int size = sizeof granted;
    if (getsockopt(SocketOf(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted),
                   &size) != 0) {
        return 0;
    }
    return granted;
}

// Windows sets no system-wide cap on the receive buffer that a command could raise.
const char* PlatUdpReceiveBufferLimitCommand() { return nullptr; }

int PlatUdpWaitReadable(PlatSocket socket, int timeoutUs) {
    // Bytes already waiting answer at once: asking for them is much cheaper than select where the
    // socket layer is emulated. An empty datagram counts no bytes and is left to select.
    u_long waiting = 0;
    if (ioctlsocket(SocketOf(socket), FIONREAD, &waiting) == 0 && waiting > 0) return 1;
    if (timeoutUs < 0) timeoutUs = 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(SocketOf(socket), &readable);
    // Set afresh for every wait, whatever select does with it.
    timeval timeout;
    timeout.tv_sec = timeoutUs / 1000000;
    timeout.tv_usec = timeoutUs % 1000000;
    int result = select(0, &readable, nullptr, nullptr, &timeout);
    if (result == SOCKET_ERROR) return -1;
    return result > 0 ? 1 : 0;
}

// Windows keeps no count of the datagrams it drops on a socket that can be read.
bool PlatUdpEnableDropCounter(PlatSocket) { return false; }

int64_t PlatUdpReadDropCounter(PlatSocket) { return -1; }

int PlatUdpReceive(PlatSocket socket, char* buffer, int room, int* lostBytes,
                   int64_t* dropCounter, PlatAddress* sender) {
    *lostBytes = 0;
    if (dropCounter != nullptr) *dropCounter = -1;
    if (room < 0) room = 0;
    // The datagram fills the caller's room first and spills into the discard area, so one call
    // both stores what fits and tells the datagram's whole size.
    WSABUF parts[2];
    parts[0].len = static_cast<ULONG>(room);
    parts[0].buf = buffer;
    parts[1].len = sizeof discardArea;
    parts[1].buf = discardArea;
    DWORD received = 0;
    DWORD flags = 0;
    sockaddr_storage from{};
    int fromLength = sizeof from;
    bool failed = WSARecvFrom(SocketOf(socket), parts, 2, &received, &flags,
                              reinterpret_cast<sockaddr*>(&from), &fromLength, nullptr,
                              nullptr) == SOCKET_ERROR;
    if (sender != nullptr) socket_address::ToPlatAddress(from, failed ? 0 : fromLength, sender);
    if (failed) return -1;
    int total = static_cast<int>(received);
    if (total > room) {
        *lostBytes = total - room;
        return room;
    }
    return total;
}

int PlatUdpReceiveMany(PlatSocket socket, PlatDatagram* datagrams, int count) {
    if (count > kPlatReceiveManyMax) count = kPlatReceiveManyMax;
    // Winsock has no call that takes several datagrams: one receive each, until none is waiting.
    for (int i = 0; i < count; ++i) {
        PlatDatagram& datagram = datagrams[i];
        datagram.length = PlatUdpReceive(socket, datagram.buffer, datagram.room, &datagram.lostBytes,
                                         &datagram.dropCounter, &datagram.sender);
        if (datagram.length < 0) {
            if (i > 0 || PlatSocketWouldBlock(PlatSocketLastError())) return i;
            return -1;
        }
    }
    return count < 0 ? 0 : count;
}

int PlatUdpLocalPort(PlatSocket socket) {
    sockaddr_storage address{};
    int size = sizeof address;
    if (getsockname(SocketOf(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void PlatUdpClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) closesocket(SocketOf(socket));
}

int PlatSocketLastError() { return WSAGetLastError(); }

bool PlatSocketWouldBlock(int errorCode) { return errorCode == WSAEWOULDBLOCK; }
