// UDP on the loopback interface: a sender, free and blocked ports, and the kernel's counters for a
// bound socket.
#include "support/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "support/fd.h"
#include "support/files.h"
#include "support/wait.h"

namespace testing_support {

UdpSender::UdpSender(int toPort) : port(toPort) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int room = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
}

UdpSender::~UdpSender() { CloseFd(fd); }

int UdpSender::LocalPort() const {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) != 0) return 0;
    return ntohs(at.sin_port);
}

bool UdpSender::Send(const std::string& datagram) { return Send(datagram.data(), datagram.size()); }

bool UdpSender::Send(const char* data, size_t length) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    while (true) {
        ssize_t sent =
            sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent == static_cast<ssize_t>(length)) return true;
        if (sent < 0 && (errno == EINTR || errno == ENOBUFS || errno == EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        return false;
    }
}

// A UDP socket bound to `port` (0: any free one) on all local addresses, or -1.
static int BoundUdpSocket(int port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) CloseFd(fd);
    return fd;
}

int FreeUdpPort() {
    int fd = BoundUdpSocket(0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    CloseFd(fd);
    return port;
}

PortBlocker::PortBlocker(int port) : fd(BoundUdpSocket(port)) {}

PortBlocker::~PortBlocker() { CloseFd(fd); }

UdpSocketStats ReadUdpSocketStats(int port) {
    UdpSocketStats stats;
    std::istringstream table(ReadFile("/proc/net/udp"));
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> values;
        std::string value;
        while (fields >> value) values.push_back(value);
        if (values.size() < 13) continue;
        const std::string& local = values[1];
        if (local.size() < 5 || local.compare(local.size() - 5, 5, wanted) != 0) continue;
        size_t colon = values[4].find(':');
        stats.found = true;
        stats.receiveQueueBytes = std::stol(values[4].substr(colon + 1), nullptr, 16);
        stats.drops = std::stol(values[12]);
        return stats;
    }
    return stats;
}

void WaitForQueueBelow(int port, long bytes, double seconds) {
    WaitUntil([&] { return ReadUdpSocketStats(port).receiveQueueBytes < bytes; }, seconds);
}

}  // namespace testing_support
