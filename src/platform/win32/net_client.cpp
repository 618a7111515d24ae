// Network client on Windows: Winsock getaddrinfo on a thread of its own, a non-blocking connect
// bounded by select, keep-alive, sends that never wait. Winsock does not tell what the peer has
// acknowledged: what the socket took counts as delivered.
#include "platform/net_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

// A lookup belongs to the thread that asked for it and to the thread that runs it; the last of
// the two to let go releases it.
struct PlatNetLookupObject {
    char host[256];
    char port[8];
    bool stream;
    std::atomic<int> owners{2};
    std::atomic<int> state{0};  // 0 running, 1 found, -1 failed
    int error = 0;
    addrinfo* found = nullptr;
};

namespace {

// How often a waiter looks whether its lookup has ended.
constexpr int kLookupPollMs = 5;

bool StartWinsock() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

// Waits until the socket is writable (or failed) or `timeoutMs` passes; true when writable.
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

void Release(PlatNetLookupObject* lookup) {
    if (lookup->owners.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (lookup->found != nullptr) freeaddrinfo(lookup->found);
    delete lookup;
}

DWORD WINAPI RunLookup(LPVOID raw) {
    PlatNetLookupObject* lookup = static_cast<PlatNetLookupObject*>(raw);
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = lookup->stream ? SOCK_STREAM : SOCK_DGRAM;
    int result = getaddrinfo(lookup->host, lookup->port, &hints, &lookup->found);
    if (result != 0) lookup->error = WSAGetLastError() != 0 ? WSAGetLastError() : result;
    lookup->state.store(result == 0 ? 1 : -1, std::memory_order_release);
    Release(lookup);
    return 0;
}

SOCKET ConnectOne(const addrinfo* address, bool stream, int timeoutMs, int* error) {
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == INVALID_SOCKET) {
        *error = WSAGetLastError();
        return s;
    }
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) return s;
    *error = WSAGetLastError();
    if (stream && *error == WSAEWOULDBLOCK) {
        *error = WSAETIMEDOUT;
        if (WaitWritable(s, timeoutMs)) return s;
        int failure = 0;
        int size = sizeof failure;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size) == 0 &&
            failure != 0)
            *error = failure;
    }
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

PlatNetLookup PlatNetLookupStart(const char* host, const char* port, bool stream, int* error) {
    static const bool winsockStarted = StartWinsock();
    (void)winsockStarted;
    PlatNetLookupObject* lookup = new (std::nothrow) PlatNetLookupObject;
    if (lookup == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    snprintf(lookup->host, sizeof lookup->host, "%s", host);
    snprintf(lookup->port, sizeof lookup->port, "%s", port);
    lookup->stream = stream;
    HANDLE thread = CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr);
    if (thread == nullptr) {
        *error = static_cast<int>(GetLastError());
        delete lookup;
        return nullptr;
    }
    CloseHandle(thread);  // it runs on, detached
    return lookup;
}

int PlatNetLookupWait(PlatNetLookup lookup, int timeoutMs, int* error) {
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        int state = lookup->state.load(std::memory_order_acquire);
        if (state != 0) {
            *error = lookup->error;
            return state;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return 0;
        Sleep(static_cast<DWORD>(deadline - now < kLookupPollMs ? deadline - now : kLookupPollMs));
    }
}

PlatSocket PlatNetConnectFound(PlatNetLookup lookup, int timeoutMs, int* error) {
    *error = WSAEADDRNOTAVAIL;
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* at = lookup->found; at != nullptr && s == INVALID_SOCKET; at = at->ai_next)
        s = ConnectOne(at, lookup->stream, timeoutMs, error);
    if (s != INVALID_SOCKET && lookup->stream) {
        BOOL on = TRUE;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    }
    return s == INVALID_SOCKET ? kPlatNoSocket : static_cast<PlatSocket>(s);
}

void PlatNetLookupEnd(PlatNetLookup lookup) {
    if (lookup != nullptr) Release(lookup);
}

int PlatNetSendSome(PlatSocket socket, const char* data, int length, int* error) {
    int sent = send(static_cast<SOCKET>(socket), data, length, 0);
    if (sent >= 0) return sent;
    if (WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    *error = WSAGetLastError();
    return -1;
}

void PlatNetWaitWritable(PlatSocket socket, int timeoutMs) {
    WaitWritable(static_cast<SOCKET>(socket), timeoutMs);
}

bool PlatNetUnacknowledged(PlatSocket, int*) { return false; }

int PlatNetPendingError(PlatSocket socket, int timeoutMs) {
    // A refused datagram shows as WSAECONNRESET on the next receive.
    SOCKET s = static_cast<SOCKET>(socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &limit) <= 0) return 0;
    char byte;
    if (recv(s, &byte, 1, MSG_PEEK) >= 0) return 0;
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEMSGSIZE ? 0 : error;
}

int PlatNetPeerState(PlatSocket socket) {
    SOCKET s = static_cast<SOCKET>(socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval none = {0, 0};
    if (select(0, &readable, nullptr, nullptr, &none) <= 0) return 0;
    char byte;
    int got = recv(s, &byte, 1, MSG_PEEK);
    if (got == 0) return 1;
    return got > 0 || WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool PlatNetClosedInOrder(int) { return false; }

void PlatNetClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) closesocket(static_cast<SOCKET>(socket));
}

const char* PlatNetErrorText(int error) {
    static char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    if (length == 0) snprintf(text, sizeof text, "error %d", error);
    size_t end = strlen(text);
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '.')) --end;
    text[end] = '\0';
    return text;
}

bool PlatNetHostName(char* out, int size) {
    static const bool winsockStarted = StartWinsock();
    (void)winsockStarted;
    if (size <= 0 || gethostname(out, size) != 0) return false;
    out[size - 1] = '\0';
    return true;
}
