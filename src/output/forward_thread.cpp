// The forwarding thread of one target: looks the collector up and connects (again, with
// back-off), sends what is queued, and releases a message only once it is delivered. Over TCP that
// is once the collector's TCP has acknowledged the message's bytes and the connection stayed up a
// moment longer (a collector that closes with bytes unread resets the connection); what was not
// delivered when a connection fails is sent again on the next. Over UDP a datagram is delivered
// when it went out without a refusal; a refusal is an outage, probed with the same back-off.
#include <cstring>

#include "output/forward_target.h"
#include "output/syslog_format.h"
#include "platform/clock.h"
#include "platform/net_client.h"

namespace {

constexpr int kConnectTimeoutMs = 1000;
// An idle thread looks this often whether its collector has closed the connection.
constexpr int kIdleWaitMs = 1000;
// How long a woken thread lets messages gather before it sends.
constexpr int kGatherMs = 2;
// The longest wait in which the thread does not look at a stop.
constexpr int kSliceMs = 50;
// While messages wait for their acknowledgement, the thread looks this often.
constexpr int kAcknowledgementPollMs = 10;
// An acknowledged message is released once the connection stayed up this long after.
constexpr int kSettleMs = 200;
// During an outage, a datagram waits this long for a refusal before the target counts as back.
constexpr int kProbeWaitMs = 100;
// Datagrams sent in one go before the thread looks at the stop again.
constexpr int kDatagramsAtOnce = 256;
// A TCP batch stops growing at this size; it always has room for one message of the longest kind.
constexpr int kBatchTarget = 64 * 1024;
// After a reset the messages in flight (sent, not yet delivered) start again from one and double
// with each delivery, so that a collector that resets after reading a few of them still sees the
// queue move on, with few messages sent twice.
constexpr uint64_t kUnlimitedInFlight = uint64_t{1} << 40;

enum class Pump { Failed, Progress, NoRoom, Unacknowledged, Idle };

struct Acknowledged {
    uint64_t bytes;  // of the connection, from its first byte
    int64_t atMs;
};
// Acknowledgements are noted at most every kAcknowledgementPollMs, so this many cover kSettleMs.
constexpr int kAcknowledgedKept = 32;

// One connection, the forwarding thread's own.
struct Link {
    PlatSocket socket = kPlatNoSocket;
    bool inOutage = false;
    bool delivered = false;     // a message was delivered on this connection
    uint64_t nextPosition = 0;  // TCP: the ring position of the first message not yet batched
    int batchLength = 0;
    int batchSent = 0;
    uint64_t written = 0;        // bytes the socket took
    uint64_t settled = 0;        // bytes acknowledged at least kSettleMs ago
    uint64_t releasedBytes = 0;  // bytes of the messages released
    uint64_t inFlight = 0;       // messages batched and not yet released
    uint64_t inFlightAllowed = kUnlimitedInFlight;  // kept from one connection to the next
    Acknowledged seen[kAcknowledgedKept];
    int seenFirst = 0;
    int seenCount = 0;
};

int FrameBytes(int length) {
    char header[kSyslogFrameHeaderSize];
    return FormatFrameHeader(length, header) + length;
}

bool StopDue(ForwardTarget& target) {
    return target.stopping.load(std::memory_order_acquire) &&
           (QueuedForwardMessages(target.ring) == 0 ||
            PlatMonotonicMilliseconds() >= target.stopDeadline.load(std::memory_order_relaxed));
}

// `timeoutMs`, but never past the stop's deadline once a stop was asked for.
int Bounded(ForwardTarget& target, int timeoutMs) {
    if (!target.stopping.load(std::memory_order_acquire)) return timeoutMs;
    int64_t left = target.stopDeadline.load(std::memory_order_relaxed) - PlatMonotonicMilliseconds();
    return left < timeoutMs ? (left > 0 ? static_cast<int>(left) : 0) : timeoutMs;
}

void WaitBounded(ForwardTarget& target, int timeoutMs) {
    PlatEventWait(target.wake, Bounded(target, timeoutMs));
}

// Sleeps until the main thread queues a message past `position`, a stop is asked for, or the
// idle time is up.
void WaitForMessages(ForwardTarget& target, uint64_t position) {
    // Sequentially consistent with the main thread's publication of a message (see
    // PushForwardMessage): either it sees this flag and signals, or this look sees its message.
    target.sleeping.store(1, std::memory_order_seq_cst);
    bool woken = false;
    if (target.ring.writePosition.load(std::memory_order_seq_cst) == position &&
        !target.stopping.load(std::memory_order_acquire))
        woken = PlatEventWait(target.wake, kIdleWaitMs) == PlatWaitResult::Signalled;
    target.sleeping.store(0, std::memory_order_relaxed);
    // Lines come in bursts: a moment's wait lets the rest of one join the first in a single send,
    // and spares the main thread a wake-up per line.
    if (woken && !target.stopping.load(std::memory_order_acquire)) PlatSleepMs(kGatherMs);
}

void TellOutage(ForwardTarget& target, Link& link, int error) {
    target.connected.store(false, std::memory_order_relaxed);
    if (link.inOutage) return;
    target.outageError.store(error, std::memory_order_relaxed);
    target.outageChanges.fetch_add(1, std::memory_order_release);
    link.inOutage = true;
}

void TellConnected(ForwardTarget& target, Link& link) {
    target.connected.store(true, std::memory_order_relaxed);
    if (!link.inOutage) return;
    target.queuedAtReconnect.store(QueuedForwardMessages(target.ring), std::memory_order_relaxed);
    target.outageChanges.fetch_add(1, std::memory_order_release);
    link.inOutage = false;
}

// Looks the collector up and connects; false with the reason in *error, or with 0 when a stop
// ended the lookup.
bool Connect(ForwardTarget& target, Link& link, int* error) {
    PlatNetLookup lookup = PlatNetLookupStart(target.where.host, target.where.port, target.where.stream, error);
    if (lookup == nullptr) return false;
    int found;
    while ((found = PlatNetLookupWait(lookup, kSliceMs, error)) == 0) {
        if (StopDue(target)) {
            PlatNetLookupEnd(lookup);  // abandoned: the way out does not wait for a resolver
            *error = 0;
            return false;
        }
    }
    if (found > 0) link.socket = PlatNetConnectFound(lookup, Bounded(target, kConnectTimeoutMs), error);
    PlatNetLookupEnd(lookup);
    return link.socket != kPlatNoSocket;
}

void StartLink(ForwardTarget& target, Link& link) {
    link.delivered = false;
    link.nextPosition = target.ring.readPosition.load(std::memory_order_relaxed);
    link.batchLength = link.batchSent = 0;
    link.written = link.settled = link.releasedBytes = link.inFlight = 0;
    link.seenFirst = link.seenCount = 0;
}

// Notes that `bytes` of the connection were acknowledged at `atMs`.
void NoteAcknowledged(Link& link, uint64_t bytes, int64_t atMs) {
    if (link.seenCount > 0) {
        const Acknowledged& last = link.seen[(link.seenFirst + link.seenCount - 1) % kAcknowledgedKept];
        // Noted later instead, which only holds the messages a little longer.
        if (last.bytes >= bytes || atMs - last.atMs < kAcknowledgementPollMs) return;
    }
    if (link.seenCount == kAcknowledgedKept) return;
    link.seen[(link.seenFirst + link.seenCount++) % kAcknowledgedKept] = {bytes, atMs};
}

// The bytes of the connection its peer has acknowledged; all it took when the system cannot tell.
uint64_t Acknowledgement(const Link& link) {
    int unacknowledged = 0;
    if (!PlatNetUnacknowledged(link.socket, &unacknowledged) || unacknowledged < 0) return link.written;
    uint64_t owed = static_cast<uint64_t>(unacknowledged);
    return owed < link.written ? link.written - owed : 0;
}

// Releases the messages whose bytes are settled; true when there were any.
bool ReleaseDelivered(ForwardTarget& target, Link& link, int64_t now) {
    while (link.seenCount > 0 && now - link.seen[link.seenFirst].atMs >= kSettleMs) {
        link.settled = link.seen[link.seenFirst].bytes;
        link.seenFirst = (link.seenFirst + 1) % kAcknowledgedKept;
        --link.seenCount;
    }
    uint64_t position = target.ring.readPosition.load(std::memory_order_relaxed);
    uint64_t count = 0;
    const char* bytes;
    int length;
    uint64_t next;
    while (position != link.nextPosition && PeekForwardMessage(target.ring, position, &bytes, &length, &next)) {
        uint64_t size = static_cast<uint64_t>(FrameBytes(length));
        if (link.releasedBytes + size > link.settled) break;
        link.releasedBytes += size;
        position = next;
        ++count;
    }
    if (count == 0) return false;
    ReleaseForwardMessages(target.ring, position, count);
    link.delivered = true;
    link.inFlight -= count;
    if (link.inFlightAllowed < kUnlimitedInFlight) link.inFlightAllowed *= 2;
    return true;
}

Pump PumpStream(ForwardTarget& target, Link& link, int* error) {
    if (link.batchSent == link.batchLength) {
        link.batchLength = link.batchSent = 0;
        const char* bytes;
        int length;
        uint64_t next;
        while (link.batchLength < kBatchTarget && link.inFlight < link.inFlightAllowed &&
               PeekForwardMessage(target.ring, link.nextPosition, &bytes, &length, &next)) {
            link.batchLength += FormatFrameHeader(length, target.batch + link.batchLength);
            memcpy(target.batch + link.batchLength, bytes, static_cast<size_t>(length));
            link.batchLength += length;
            link.nextPosition = next;
            ++link.inFlight;
        }
    }
    bool progress = false;
    if (link.batchSent < link.batchLength) {
        int taken = PlatNetSendSome(link.socket, target.batch + link.batchSent,
                                    link.batchLength - link.batchSent, error);
        if (taken < 0) return Pump::Failed;
        link.batchSent += taken;
        link.written += static_cast<uint64_t>(taken);
        progress = taken > 0;
    }
    int64_t now = PlatMonotonicMilliseconds();
    NoteAcknowledged(link, Acknowledgement(link), now);
    if (ReleaseDelivered(target, link, now)) progress = true;
    if (progress) return Pump::Progress;
    if (link.batchSent < link.batchLength) return Pump::NoRoom;
    if (link.inFlight > 0) return Pump::Unacknowledged;
    return Pump::Idle;
}

Pump PumpDatagrams(ForwardTarget& target, Link& link, int* error) {
    uint64_t position = target.ring.readPosition.load(std::memory_order_relaxed);
    const char* bytes;
    int length;
    uint64_t next;
    for (int sent = 0; sent < kDatagramsAtOnce; ++sent) {
        if (!PeekForwardMessage(target.ring, position, &bytes, &length, &next))
            return sent > 0 ? Pump::Progress : Pump::Idle;
        int taken = PlatNetSendSome(link.socket, bytes, length, error);
        if (taken < 0) return Pump::Failed;  // a refusal of an earlier datagram, most likely
        if (taken == 0) return sent > 0 ? Pump::Progress : Pump::NoRoom;
        // A refusal reported at once (a closed port on this machine) keeps the message queued.
        *error = PlatNetPendingError(link.socket, link.inOutage ? kProbeWaitMs : 0);
        if (*error != 0) return Pump::Failed;
        position = next;
        ReleaseForwardMessages(target.ring, position, 1);
        link.delivered = true;
        TellConnected(target, link);
    }
    return Pump::Progress;
}

// Ends a connection that failed. A peer that closed in order read every byte it acknowledged:
// those messages are delivered. After a reset, only the settled ones are; the rest go again.
void CloseLink(ForwardTarget& target, Link& link, bool inOrder) {
    if (target.where.stream) {
        int64_t now = PlatMonotonicMilliseconds();
        uint64_t acknowledged = Acknowledgement(link);
        if (inOrder && acknowledged > link.settled) {
            link.settled = acknowledged;
            link.seenCount = 0;
        }
        ReleaseDelivered(target, link, now);
        if (!inOrder) link.inFlightAllowed = 1;
    }
    PlatNetClose(link.socket);
    link.socket = kPlatNoSocket;
    target.connected.store(false, std::memory_order_relaxed);
}

}  // namespace

int NextBackOffMs(int backOffMs) { return backOffMs < kLastBackOffMs / 2 ? backOffMs * 2 : kLastBackOffMs; }

void ForwardingThread(intptr_t argument) {
    ForwardTarget& target = *reinterpret_cast<ForwardTarget*>(argument);
    Link link;
    int backOffMs = kFirstBackOffMs;
    bool waitFirst = false;  // the last attempt or connection failed
    while (!StopDue(target)) {
        if (link.socket == kPlatNoSocket) {
            if (waitFirst) {
                WaitBounded(target, backOffMs);
                backOffMs = NextBackOffMs(backOffMs);
                if (StopDue(target)) break;
            }
            int error = 0;
            waitFirst = true;
            if (!Connect(target, link, &error)) {
                if (error != 0) TellOutage(target, link, error);
                continue;
            }
            StartLink(target, link);
            // A datagram target is back only once a datagram went out without a refusal.
            if (target.where.stream || !link.inOutage) TellConnected(target, link);
        }
        // A collector that went away is noticed before anything more is written into the void,
        // and whether it closed in order is known before a send of ours makes it reset.
        int peer = target.where.stream ? PlatNetPeerState(link.socket) : 0;
        int error = 0;
        Pump pump = Pump::Failed;
        if (peer == 0) pump = target.where.stream ? PumpStream(target, link, &error) : PumpDatagrams(target, link, &error);
        if (pump == Pump::Failed) {
            bool inOrder = peer > 0 || (peer == 0 && PlatNetClosedInOrder(error));
            CloseLink(target, link, inOrder);
            // A datagram refused is an outage; a stream that fails is connected again.
            if (!target.where.stream) TellOutage(target, link, error);
            if (link.delivered) {
                backOffMs = kFirstBackOffMs;
                waitFirst = false;
            }
            continue;
        }
        if (link.delivered) backOffMs = kFirstBackOffMs;
        if (pump == Pump::NoRoom) {
            PlatNetWaitWritable(link.socket, Bounded(target, kSliceMs));
        } else if (pump == Pump::Unacknowledged) {
            WaitBounded(target, kAcknowledgementPollMs);
        } else if (pump == Pump::Idle && !target.stopping.load(std::memory_order_acquire)) {
            WaitForMessages(target, target.where.stream
                                        ? link.nextPosition
                                        : target.ring.readPosition.load(std::memory_order_relaxed));
        }
    }
    // At the stop, what the collector's TCP has acknowledged on a connection still up is delivered:
    // the collector has it and reads on.
    bool connected = target.connected.load(std::memory_order_relaxed);
    if (link.socket != kPlatNoSocket) CloseLink(target, link, true);
    target.connected.store(connected, std::memory_order_relaxed);  // why the rest is dropped
}
