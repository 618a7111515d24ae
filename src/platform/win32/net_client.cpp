// Network client on Windows: Winsock getaddrinfo, a non-blocking connect bounded by select, send
// with select for room.
#include "platform/net_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace {

bool StartWinsock() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

// Waits until the socket is writable (or its connect failed) or `timeoutMs` passes.
bool WaitWritable(SOCKET s, int timeoutMs) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, nullptr, &writable, &failed, &limit) > 0 && FD_ISSET(s, &writable);
}

SOCKET ConnectOne(const addrinfo* address, bool stream, int timeoutMs) {
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == INVALID_SOCKET) return s;
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) return s;
    if (stream && WSAGetLastError() == WSAEWOULDBLOCK && WaitWritable(s, timeoutMs)) return s;
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

PlatSocket PlatNetConnect(const char* host, const char* port, bool stream, int timeoutMs) {
    static const bool winsockStarted = StartWinsock();
    (void)winsockStarted;
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) return kPlatNoSocket;
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* at = found; at != nullptr && s == INVALID_SOCKET; at = at->ai_next)
        s = ConnectOne(at, stream, timeoutMs);
    freeaddrinfo(found);
    if (s != INVALID_SOCKET && stream) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }
    return s == INVALID_SOCKET ? kPlatNoSocket : static_cast<PlatSocket>(s);
}

bool PlatNetSend(PlatSocket socket, const char* data, int length, int timeoutMs) {
    SOCKET s = static_cast<SOCKET>(socket);
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (length > 0) {
        int sent = send(s, data, length, 0);
        if (sent > 0) {
            data += sent;
            length -= sent;
            continue;
        }
        if (sent < 0 && WSAGetLastError() != WSAEWOULDBLOCK) return false;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline || !WaitWritable(s, static_cast<int>(deadline - now))) return false;
    }
    return true;
}

bool PlatNetPeerClosed(PlatSocket socket) {
    SOCKET s = static_cast<SOCKET>(socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval none = {0, 0};
    if (select(0, &readable, nullptr, nullptr, &none) <= 0) return false;
    char byte;
    int got = recv(s, &byte, 1, MSG_PEEK);
    return got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
}

void PlatNetClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) closesocket(static_cast<SOCKET>(socket));
}

bool PlatNetHostName(char* out, int size) {
    static const bool winsockStarted = StartWinsock();
    (void)winsockStarted;
    if (size <= 0 || gethostname(out, size) != 0) return false;
    out[size - 1] = '\0';
    return true;
}
