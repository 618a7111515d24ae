// UDP socket on POSIX: BSD sockets, poll for readiness, recvmsg to learn of truncation.
#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/sock_diag.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

PlatSocket PlatUdpOpen() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return fd < 0 ? kPlatNoSocket : fd;
}

bool PlatUdpBind(PlatSocket socket, uint16_t port) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
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
                   int64_t* dropCounter) {
    *lostBytes = 0;
    if (dropCounter != nullptr) *dropCounter = -1;
    iovec part = {buffer, static_cast<size_t>(room < 0 ? 0 : room)};
    msghdr message;
    memset(&message, 0, sizeof message);
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
    if (received < 0) return -1;
    if (dropCounter != nullptr && message.msg_controllen > 0) *dropCounter = DropCounterOf(message);
    if (received > room) {
        *lostBytes = static_cast<int>(received - room);
        return room;
    }
    return static_cast<int>(received);
}

int PlatUdpNextDatagramSize(PlatSocket socket) {
    char none;
    ssize_t size;
    do {
        size = recv(static_cast<int>(socket), &none, 0, MSG_PEEK | MSG_TRUNC);
    } while (size < 0 && errno == EINTR);
    return size < 0 ? -1 : static_cast<int>(size);
}

int PlatUdpLocalPort(PlatSocket socket) {
    sockaddr_in address;
    socklen_t size = sizeof address;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return -1;
    return ntohs(address.sin_port);
}

void PlatUdpClose(PlatSocket socket) {
    if (socket != kPlatNoSocket) close(static_cast<int>(socket));
}

int PlatSocketLastError() { return errno; }

bool PlatSocketWouldBlock(int errorCode) { return errorCode == EAGAIN || errorCode == EWOULDBLOCK; }
