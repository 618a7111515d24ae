// UDP on the loopback interface: a sender, free and blocked ports, and the kernel's counters for a
// bound socket.
#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

/// A socket that sends datagrams to 127.0.0.1:port.
class UdpSender {
  public:
    explicit UdpSender(int port);
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;
    bool Send(const std::string& datagram);
    bool Send(const char* data, size_t length);
    /// The port it sends from (0 before its first datagram).
    int LocalPort() const;

  private:
    int fd = -1;
    int port = 0;
};

/// A UDP port that was free a moment ago (bound to port 0, read, closed).
int FreeUdpPort();

/// A socket bound to all local addresses on `port`, kept until destruction.
class PortBlocker {
  public:
    explicit PortBlocker(int port);
    ~PortBlocker();
    bool Bound() const { return fd >= 0; }

  private:
    int fd = -1;
};

/// The kernel's counters for the IPv4 UDP socket bound to `port`.
struct UdpSocketStats {
    bool found = false;
    long receiveQueueBytes = 0;
    long drops = 0;
};
UdpSocketStats ReadUdpSocketStats(int port);

/// Waits (up to `seconds`) until the kernel holds fewer than `bytes` for the socket on `port`,
/// so that a test's pacing keeps its receive queue far from the limit.
void WaitForQueueBelow(int port, long bytes, double seconds = 10);

}  // namespace testing_support
