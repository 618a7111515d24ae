// Network client on POSIX: getaddrinfo, a non-blocking connect bounded by poll, send without
// SIGPIPE.
#include "platform/net_client.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

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

int ConnectOne(const addrinfo* address, bool stream, int timeoutMs) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                    address->ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, address->ai_addr, address->ai_addrlen) == 0) return fd;
    if (stream && errno == EINPROGRESS && WaitFor(fd, POLLOUT, timeoutMs)) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) return fd;
    }
    close(fd);
    return -1;
}

}  // namespace

PlatSocket PlatNetConnect(const char* host, const char* port, bool stream, int timeoutMs) {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) return kPlatNoSocket;
    int fd = -1;
    for (const addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next)
        fd = ConnectOne(at, stream, timeoutMs);
    freeaddrinfo(found);
    if (fd >= 0 && stream) {
        int on = 1;  // messages go out in batches; a lone one should not wait for an acknowledgement
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd < 0 ? kPlatNoSocket : fd;
}

bool PlatNetSend(PlatSocket socket, const char* data, int length, int timeoutMs) {
    int fd = static_cast<int>(socket);
    int64_t deadline = NowMs() + timeoutMs;
    while (length > 0) {
        ssize_t sent = send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            length -= static_cast<int>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        int left = static_cast<int>(deadline - NowMs());
        if (left <= 0 || !WaitFor(fd, POLLOUT, left)) return false;
    }
    return true;
}

bool PlatNetPeerClosed(PlatSocket socket) {
    int fd = static_cast<int>(socket);
    pollfd watched = {fd, POLLIN, 0};
    if (poll(&watched, 1, 0) <= 0) return false;
    if (watched.revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
    char byte;
    ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void PlatNetClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) close(static_cast<int>(socket));
}

bool PlatNetHostName(char* out, int size) {
    if (size <= 0) return false;
    if (gethostname(out, static_cast<size_t>(size)) != 0) return false;
    out[size - 1] = '\0';
    return true;
}
