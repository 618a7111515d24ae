// UDP socket on POSIX: BSD sockets, poll for readiness, recvmsg to learn of truncation.
#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/sock_diag.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket_address.h"

using socket_address::Resolve;

int PlatFormatAddress(const PlatAddress& address, char* text) {
    return socket_address::Format(address, text);
}

bool PlatIsNumericAddress(const char* text) { return socket_address::IsNumeric<socklen_t>(text); }

PlatSocket PlatUdpOpen(const char* address) {
    sockaddr_storage resolved;
    socklen_t length;
    if (!Resolve(address, 0, &resolved, &length)) {
        errno = EINVAL;
        return kPlatNoSocket;
    }
    int fd = socket(resolved.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return kPlatNoSocket;
    if (resolved.ss_family == AF_INET6) {
        // "::" takes IPv4 senders too, whatever the system's default for new sockets is.
        int v6Only = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    }
    return fd;
}

bool PlatUdpBind(PlatSocket socket, uint16_t port, const char* address) {
    sockaddr_storage resolved;
    socklen_t length;
    if (!Resolve(address, port, &resolved, &length)) {
        errno = EINVAL;
        return false;
    }
    return bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&resolved), length) == 0;
}

bool PlatUdpSetNonBlocking(PlatSocket socket) {
    int fd = static_cast<int>(socket);
    int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int PlatUdpSetReceiveBuffer(PlatSocket socket, int bytes) {
    int fd = static_cast<int>(socket);
    // With the privilege for it the system's limit does not apply; otherwise it caps the request.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t size = sizeof granted;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) return 0;
    return granted / 2;  // the kernel reports twice the room it grants, counting its bookkeeping
}

const char* PlatUdpReceiveBufferLimitCommand() { return "sysctl -w net.core.rmem_max="; }

int PlatUdpWaitReadable(PlatSocket socket, int timeoutUs) {
    pollfd watched = {static_cast<int>(socket), POLLIN, 0};
    int timeoutMs = timeoutUs <= 0 ? 0 : (timeoutUs + 999) / 1000;
    int ready = poll(&watched, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready > 0 && (watched.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return ready > 0 ? 1 : 0;
}

bool PlatUdpEnableDropCounter(PlatSocket socket) {
    int on = 1;
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0;
}

int64_t PlatUdpReadDropCounter(PlatSocket socket) {
    uint32_t memory[SK_MEMINFO_VARS];
    socklen_t size = sizeof memory;
    if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_MEMINFO, memory, &size) != 0) return -1;
    if (size < (SK_MEMINFO_DROPS + 1) * sizeof(uint32_t)) return -1;
    return memory[SK_MEMINFO_DROPS];
}

namespace {

// The drop count a received datagram brought along in its control data, or -1.
int64_t DropCounterOf(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SO_RXQ_OVFL) {
            uint32_t count;
            memcpy(&count, CMSG_DATA(header), sizeof count);
            return count;
        }
    }
    return -1;
}

}  // namespace

int PlatUdpReceive(PlatSocket socket, char* buffer, int room, int* lostBytes,
                   int64_t* dropCounter, PlatAddress* sender) {
    *lostBytes = 0;
    if (dropCounter != nullptr) *dropCounter = -1;
    iovec part = {buffer, static_cast<size_t>(room < 0 ? 0 : room)};
    sockaddr_storage from;
    msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
    if (dropCounter != nullptr) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    ssize_t received;
    do {
        // MSG_TRUNC makes the call report the datagram's full length even when it did not fit.
        received = recvmsg(static_cast<int>(socket), &message, MSG_TRUNC);
    } while (received < 0 && errno == EINTR);
    if (sender != nullptr) {
        if (received < 0) message.msg_namelen = 0;
        socket_address::ToPlatAddress(from, message.msg_namelen, sender);
    }
    if (received < 0) return -1;
    if (dropCounter != nullptr && message.msg_controllen > 0) *dropCounter = DropCounterOf(message);
    if (received > room) {
        *lostBytes = static_cast<int>(received - room);
        return room;
    }
    return static_cast<int>(received);
}

int PlatUdpNextDatagramSize(PlatSocket socket, PlatAddress* sender) {
    char none;
    ssize_t size;
    sockaddr_storage from;
    socklen_t fromLength;
    do {
        fromLength = sizeof from;
        size = recvfrom(static_cast<int>(socket), &none, 0, MSG_PEEK | MSG_TRUNC,
                        reinterpret_cast<sockaddr*>(&from), &fromLength);
    } while (size < 0 && errno == EINTR);
    if (sender != nullptr) socket_address::ToPlatAddress(from, size < 0 ? 0 : fromLength, sender);
    return size < 0 ? -1 : static_cast<int>(size);
}

int PlatUdpLocalPort(PlatSocket socket) {
    sockaddr_storage address;
    socklen_t size = sizeof address;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void PlatUdpClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) close(static_cast<int>(socket));
}

int PlatSocketLastError() { return errno; }

const char* PlatSocketErrorText(int errorCode) { return strerror(errorCode); }

bool PlatSocketWouldBlock(int errorCode) { return errorCode == EAGAIN || errorCode == EWOULDBLOCK; }
