// Network client on POSIX: getaddrinfo on a detached thread, a non-blocking connect bounded by
// poll, keep-alive and TCP_USER_TIMEOUT, sends without SIGPIPE, SIOCOUTQ for what is unacknowledged.
#include "platform/net_client.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
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

// A lookup failure is told apart from a system error code by this offset.
constexpr int kLookupErrorBase = -1000000;
// With nothing acknowledged for this long a connection is given up; the keep-alive probes find a
// peer that went away while nothing was being sent.
constexpr unsigned kUserTimeoutMs = 20000;
constexpr int kKeepAliveIdleS = 10;
constexpr int kKeepAliveIntervalS = 5;
constexpr int kKeepAliveProbes = 2;
// How often a waiter looks whether its lookup has ended.
constexpr int kLookupPollMs = 5;

int64_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until the socket shows `events` or `timeoutMs` passes; true when it did.
bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd watched = {fd, events, 0};
    int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int left = static_cast<int>(deadline - NowMs());
        int ready = poll(&watched, 1, left < 0 ? 0 : left);
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

void Release(PlatNetLookupObject* lookup) {
    if (lookup->owners.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (lookup->found != nullptr) freeaddrinfo(lookup->found);
    delete lookup;
}

void* RunLookup(void* raw) {
    PlatNetLookupObject* lookup = static_cast<PlatNetLookupObject*>(raw);
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = lookup->stream ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    int result = getaddrinfo(lookup->host, lookup->port, &hints, &lookup->found);
    if (result == EAI_SYSTEM) lookup->error = errno;
    else if (result != 0) lookup->error = kLookupErrorBase + result;
    lookup->state.store(result == 0 ? 1 : -1, std::memory_order_release);
    Release(lookup);
    return nullptr;
}

void SetStreamOptions(int fd) {
    int on = 1;  // messages go out in batches; a lone one should not wait for an acknowledgement
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    int idle = kKeepAliveIdleS;
    int interval = kKeepAliveIntervalS;
    int probes = kKeepAliveProbes;
    unsigned timeout = kUserTimeoutMs;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
}

int ConnectOne(const addrinfo* address, bool stream, int timeoutMs, int* error) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    address->ai_protocol);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (connect(fd, address->ai_addr, address->ai_addrlen) == 0) return fd;
    *error = errno;
    if (stream && errno == EINPROGRESS) {
        *error = ETIMEDOUT;
        if (WaitFor(fd, POLLOUT, timeoutMs)) {
            int failure = 0;
            socklen_t size = sizeof failure;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) == 0 && failure == 0) return fd;
            *error = failure;
        }
    }
    close(fd);
    return -1;
}

}  // namespace

PlatNetLookup PlatNetLookupStart(const char* host, const char* port, bool stream, int* error) {
    PlatNetLookupObject* lookup = new (std::nothrow) PlatNetLookupObject;
    if (lookup == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    snprintf(lookup->host, sizeof lookup->host, "%s", host);
    snprintf(lookup->port, sizeof lookup->port, "%s", port);
    lookup->stream = stream;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int result = pthread_create(&thread, &attributes, RunLookup, lookup);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        *error = result;
        delete lookup;
        return nullptr;
    }
    return lookup;
}

int PlatNetLookupWait(PlatNetLookup lookup, int timeoutMs, int* error) {
    int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int state = lookup->state.load(std::memory_order_acquire);
        if (state != 0) {
            *error = lookup->error;
            return state;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0) return 0;
        timespec pause = {0, (left < kLookupPollMs ? left : kLookupPollMs) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

PlatSocket PlatNetConnectFound(PlatNetLookup lookup, int timeoutMs, int* error) {
    *error = EADDRNOTAVAIL;
    int fd = -1;
    for (const addrinfo* at = lookup->found; at != nullptr && fd < 0; at = at->ai_next)
        fd = ConnectOne(at, lookup->stream, timeoutMs, error);
    if (fd >= 0 && lookup->stream) SetStreamOptions(fd);
    return fd < 0 ? kPlatNoSocket : fd;
}

void PlatNetLookupEnd(PlatNetLookup lookup) {
    if (lookup != nullptr) Release(lookup);
}

int PlatNetSendSome(PlatSocket socket, const char* data, int length, int* error) {
    for (;;) {
        ssize_t sent = send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        *error = errno;
        return -1;
    }
}

void PlatNetWaitWritable(PlatSocket socket, int timeoutMs) {
    WaitFor(static_cast<int>(socket), POLLOUT, timeoutMs);
}

bool PlatNetUnacknowledged(PlatSocket socket, int* bytes) {
    return ioctl(static_cast<int>(socket), SIOCOUTQ, bytes) == 0;
}

int PlatNetPendingError(PlatSocket socket, int timeoutMs) {
    int fd = static_cast<int>(socket);
    if (timeoutMs > 0) WaitFor(fd, 0, timeoutMs);  // POLLERR is always watched
    int failure = 0;
    socklen_t size = sizeof failure;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0) return errno;
    return failure;
}

int PlatNetPeerState(PlatSocket socket) {
    int fd = static_cast<int>(socket);
    pollfd watched = {fd, POLLIN, 0};
    if (poll(&watched, 1, 0) <= 0) return 0;
    char byte;
    ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0) return 1;
    if (got > 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    // A reset after the peer's orderly close (our bytes reached a closed socket) reads as EPIPE.
    return errno == EPIPE ? 1 : -1;
}

bool PlatNetClosedInOrder(int error) { return error == EPIPE; }

void PlatNetClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) close(static_cast<int>(socket));
}

const char* PlatNetErrorText(int error) {
    if (error < kLookupErrorBase / 2) return gai_strerror(error - kLookupErrorBase);
    return strerror(error);
}

bool PlatNetHostName(char* out, int size) {
    if (size <= 0) return false;
    if (gethostname(out, static_cast<size_t>(size)) != 0) return false;
    out[size - 1] = '\0';
    return true;
}
