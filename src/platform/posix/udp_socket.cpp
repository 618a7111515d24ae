// UDP socket on POSIX: BSD sockets, poll for readiness, recvmsg and recvmmsg (MSG_TRUNC) to learn
// of truncation.
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

int PlatUdpReceiveMany(PlatSocket socket, PlatDatagram* datagrams, int count) {
    if (count > kPlatReceiveManyMax) count = kPlatReceiveManyMax;
    if (count <= 0) return 0;
    // Each entry has its own address and control area; all of it lives on the stack.
    mmsghdr messages[kPlatReceiveManyMax];
    iovec parts[kPlatReceiveManyMax];
    sockaddr_storage senders[kPlatReceiveManyMax];
    alignas(cmsghdr) char control[kPlatReceiveManyMax][CMSG_SPACE(sizeof(uint32_t))];
    for (int i = 0; i < count; ++i) {
        parts[i] = {datagrams[i].buffer, static_cast<size_t>(datagrams[i].room < 0 ? 0 : datagrams[i].room)};
        msghdr& header = messages[i].msg_hdr;
        memset(&header, 0, sizeof header);
        header.msg_name = &senders[i];
        header.msg_namelen = sizeof senders[i];
        header.msg_iov = &parts[i];
        header.msg_iovlen = 1;
        header.msg_control = control[i];
        header.msg_controllen = sizeof control[i];
        messages[i].msg_len = 0;
    }
    int received;
    do {
        // MSG_TRUNC makes each entry report its datagram's full length even when it did not fit.
        received = recvmmsg(static_cast<int>(socket), messages, static_cast<unsigned>(count),
                            MSG_TRUNC | MSG_DONTWAIT, nullptr);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return PlatSocketWouldBlock(errno) ? 0 : -1;
    for (int i = 0; i < received; ++i) {
        PlatDatagram& datagram = datagrams[i];
        int full = static_cast<int>(messages[i].msg_len);
        int room = static_cast<int>(parts[i].iov_len);
        datagram.length = full > room ? room : full;
        datagram.lostBytes = full > room ? full - room : 0;
        msghdr& header = messages[i].msg_hdr;
        datagram.dropCounter = header.msg_controllen > 0 ? DropCounterOf(header) : -1;
        socket_address::ToPlatAddress(senders[i], header.msg_namelen, &datagram.sender);
    }
    return received;
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

bool PlatSocketWouldBlock(int errorCode) { return errorCode == EAGAIN || errorCode == EWOULDBLOCK; }
