// Forwarding threads: one per target, each reading its own ring, connecting (again) with back-off,
// and sending what is queued.
#include "output/forwarder.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "output/forward_ring.h"
#include "output/syslog_format.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/event.h"
#include "platform/net_client.h"
#include "platform/thread.h"

static_assert(kForwardQueueMessages == kForwardRingMessages, "one bound for the queue");

namespace {

constexpr int kMaxTargets = 8;
constexpr int kUrlSize = 256;
constexpr int kHostNameSize = 256;
constexpr int kFirstBackOffMs = 100;
constexpr int kLastBackOffMs = 5000;
constexpr int kConnectTimeoutMs = 1000;
// A connected collector that takes nothing for this long is dropped and connected again.
constexpr int kSendTimeoutMs = 2000;
// An idle thread looks this often whether its collector has closed the connection.
constexpr int kIdleWaitMs = 1000;
constexpr int kNoticeIntervalMs = 1000;
// How long a woken thread lets messages gather before it sends.
constexpr int kGatherMs = 2;
// A TCP batch stops growing at this size; it always has room for one message of the longest kind.
constexpr int kBatchTarget = 64 * 1024;
constexpr int kBatchBytes = kBatchTarget + kSyslogFrameHeaderSize + kMaxSyslogMessage;

struct ForwardTarget {
    char url[kUrlSize];
    char host[kUrlSize];
    char port[8];
    bool stream;
    ForwardRing ring;
    PlatEvent wake;
    PlatThread thread;
    char* batch;                     // the thread's own
    std::atomic<int> sleeping;       // 1 while the thread waits for messages
    std::atomic<bool> stopping;
    std::atomic<int64_t> stopDeadline;
    std::atomic<bool> connected;
    std::atomic<uint64_t> dropped;   // written by the main thread only
    uint64_t droppedShown;
    int64_t lastNoticeMs;
};

ForwardTarget* targets[kMaxTargets];
int targetCount = 0;      // targets started; their counters outlive the stop
int forwardingCount = 0;  // targets that take messages: 0 once stopped
int facilityCode = 1;
char hostName[kHostNameSize] = "-";

// The message being queued, formatted once for every target (main thread only).
char message[kMaxSyslogMessage];

// The timestamp of the current second, formatted once a second; the milliseconds are patched in.
int64_t stampSecond = -1;
char stamp[kSyslogTimestampSize];
constexpr int kStampMillisecondsAt = 20;  // "YYYY-MM-DDTHH:MM:SS." is 20 bytes

// Splits "udp://HOST:PORT" or "tcp://[V6]:PORT"; the URL's syntax was checked at start-up.
bool ParseTarget(const char* url, ForwardTarget& target) {
    if (strncmp(url, "udp://", 6) != 0 && strncmp(url, "tcp://", 6) != 0) return false;
    target.stream = url[0] == 't';
    const char* host = url + 6;
    const char* colon = strrchr(host, ':');
    if (colon == nullptr || strlen(colon + 1) >= sizeof target.port) return false;
    size_t hostLength = static_cast<size_t>(colon - host);
    if (hostLength >= 2 && host[0] == '[' && host[hostLength - 1] == ']') {
        ++host;
        hostLength -= 2;
    }
    if (hostLength == 0 || hostLength >= sizeof target.host) return false;
    memcpy(target.host, host, hostLength);
    target.host[hostLength] = '\0';
    strcpy(target.port, colon + 1);
    snprintf(target.url, sizeof target.url, "%s", url);
    return true;
}

// This machine's name as a HOSTNAME may hold it: printable ASCII without spaces, or "-".
void ReadHostName() {
    char name[kHostNameSize];
    if (!PlatNetHostName(name, sizeof name)) return;
    size_t length = 0;
    while (name[length] > ' ' && name[length] < 0x7F) ++length;
    if (length == 0) return;
    memcpy(hostName, name, length);
    hostName[length] = '\0';
}

const char* CurrentStamp() {
    int64_t now = PlatWallClockNanoseconds();
    int64_t second = now / 1000000000;
    int milliseconds = static_cast<int>(now % 1000000000 / 1000000);
    if (second != stampSecond) {
        std::tm local;
        int offset = 0;
        if (!PlatLocalTimeAt(second, &local, &offset)) {
            memset(&local, 0, sizeof local);
            offset = 0;
        }
        FormatSyslogTimestamp(local, 0, offset, stamp);
        stampSecond = second;
    }
    stamp[kStampMillisecondsAt] = static_cast<char>('0' + milliseconds / 100);
    stamp[kStampMillisecondsAt + 1] = static_cast<char>('0' + milliseconds / 10 % 10);
    stamp[kStampMillisecondsAt + 2] = static_cast<char>('0' + milliseconds % 10);
    return stamp;
}

// Waits for the wake-up event, but never past the stop's deadline once a stop was asked for.
void WaitBounded(ForwardTarget& target, int timeoutMs) {
    if (target.stopping.load(std::memory_order_acquire)) {
        int64_t left = target.stopDeadline.load(std::memory_order_relaxed) - PlatMonotonicMilliseconds();
        if (left < timeoutMs) timeoutMs = left > 0 ? static_cast<int>(left) : 0;
    }
    PlatEventWait(target.wake, timeoutMs);
}

// Sleeps until the main thread queues a message, a stop is asked for, or the idle time is up.
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

// Sends the queued messages from the ring's read position on. For TCP they go out framed, as
// many as fit one batch; for UDP each as a datagram. Messages are released only once they have
// gone out. False when the socket failed; 0 messages sent means the ring was empty.
bool SendQueued(ForwardTarget& target, PlatSocket socket, uint64_t* sent) {
    uint64_t position = target.ring.readPosition.load(std::memory_order_relaxed);
    uint64_t next;
    const char* bytes;
    int length;
    *sent = 0;
    if (!target.stream) {
        while (PeekForwardMessage(target.ring, position, &bytes, &length, &next)) {
            // A refusal reported for an earlier datagram fails the next send once; try it again.
            if (!PlatNetSend(socket, bytes, length, kSendTimeoutMs) &&
                !PlatNetSend(socket, bytes, length, kSendTimeoutMs))
                return false;
            position = next;
            ReleaseForwardMessages(target.ring, position, 1);
            ++*sent;
        }
        return true;
    }
    int batchLength = 0;
    uint64_t count = 0;
    while (batchLength < kBatchTarget &&
           PeekForwardMessage(target.ring, position, &bytes, &length, &next)) {
        batchLength += FormatFrameHeader(length, target.batch + batchLength);
        memcpy(target.batch + batchLength, bytes, static_cast<size_t>(length));
        batchLength += length;
        position = next;
        ++count;
    }
    if (count == 0) return true;
    if (!PlatNetSend(socket, target.batch, batchLength, kSendTimeoutMs)) return false;
    ReleaseForwardMessages(target.ring, position, count);
    *sent = count;
    return true;
}

void ForwardingThread(intptr_t argument) {
    ForwardTarget& target = *reinterpret_cast<ForwardTarget*>(argument);
    PlatSocket socket = kPlatNoSocket;
    int backOffMs = kFirstBackOffMs;
    for (;;) {
        if (target.stopping.load(std::memory_order_acquire) &&
            (QueuedForwardMessages(target.ring) == 0 ||
             PlatMonotonicMilliseconds() >= target.stopDeadline.load(std::memory_order_relaxed)))
            break;
        // A collector that went away is noticed before anything more is written into the void.
        if (socket != kPlatNoSocket && target.stream && PlatNetPeerClosed(socket)) {
            PlatNetClose(socket);
            socket = kPlatNoSocket;
            target.connected.store(false, std::memory_order_relaxed);
        }
        if (socket == kPlatNoSocket) {
            socket = PlatNetConnect(target.host, target.port, target.stream, kConnectTimeoutMs);
            if (socket == kPlatNoSocket) {
                WaitBounded(target, backOffMs);
                backOffMs = backOffMs * 2 < kLastBackOffMs ? backOffMs * 2 : kLastBackOffMs;
                continue;
            }
            target.connected.store(true, std::memory_order_relaxed);
        }
        uint64_t sent = 0;
        if (!SendQueued(target, socket, &sent)) {
            PlatNetClose(socket);
            socket = kPlatNoSocket;
            target.connected.store(false, std::memory_order_relaxed);
            continue;
        }
        if (sent > 0) {
            backOffMs = kFirstBackOffMs;
        } else if (!target.stopping.load(std::memory_order_acquire)) {
            WaitForMessages(target, target.ring.readPosition.load(std::memory_order_relaxed));
        }
    }
    PlatNetClose(socket);
}

void ShowDrops(ForwardTarget& target, int64_t now, bool toStandardError) {
    uint64_t dropped = target.dropped.load(std::memory_order_relaxed);
    if (dropped == target.droppedShown) return;
    char notice[kUrlSize + 128];
    int length = snprintf(notice, sizeof notice, "WARNING, forwarding to %s: %llu messages dropped (%s)\n",
                          target.url, static_cast<unsigned long long>(dropped - target.droppedShown),
                          target.connected.load(std::memory_order_relaxed) ? "collector too slow"
                                                                           : "collector unreachable");
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof notice)) length = static_cast<int>(sizeof notice) - 1;
    if (toStandardError) {
        fputs(notice, stderr);
    } else if (!PlatConsoleTryWrite(kNormalAttribute, notice, static_cast<size_t>(length))) {
        return;  // a lagging console gets it later
    }
    target.droppedShown = dropped;
    target.lastNoticeMs = now;
}

// Releases what the thread used; the counters stay.
void ReleaseQueue(ForwardTarget* target) {
    FreeForwardRing(target->ring);
    PlatEventClose(target->wake);
    target->wake = nullptr;
    free(target->batch);
    target->batch = nullptr;
}

}  // namespace

bool StartForwarding(const char* const* urls, int count, int facility) {
    facilityCode = facility;
    ReadHostName();
    for (int i = 0; i < count && i < kMaxTargets; ++i) {
        ForwardTarget* target = new ForwardTarget();
        bool ready = ParseTarget(urls[i], *target) && CreateForwardRing(target->ring);
        target->wake = ready ? PlatEventCreate() : nullptr;
        target->batch = static_cast<char*>(malloc(kBatchBytes));
        target->lastNoticeMs = -kNoticeIntervalMs;
        ready = ready && target->wake != nullptr && target->batch != nullptr;
        if (ready) target->thread = PlatThreadStart(ForwardingThread, reinterpret_cast<intptr_t>(target));
        if (!ready || target->thread == nullptr) {
            ReleaseQueue(target);
            delete target;
            StopForwarding(0);
            return false;
        }
        targets[targetCount++] = target;
    }
    forwardingCount = targetCount;
    return true;
}

void ForwardLine(uint16_t attribute, const char* text, int textLength, const char* sender) {
    if (forwardingCount == 0) return;
    SyslogHeader header = {facilityCode * 8 + SyslogSeverity(attribute), CurrentStamp(), hostName,
                           sender};
    int length = FormatSyslogMessage(header, text, textLength, message);
    for (int i = 0; i < forwardingCount; ++i) {
        ForwardTarget& target = *targets[i];
        if (PushForwardMessage(target.ring, message, length)) {
            // Wakes the thread only when it sleeps (see WaitForMessages for the ordering).
            if (target.sleeping.load(std::memory_order_seq_cst) != 0 && target.sleeping.exchange(0) != 0)
                PlatEventSignal(target.wake);
            continue;
        }
        target.dropped.store(target.dropped.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        int64_t now = PlatMonotonicMilliseconds();
        if (now - target.lastNoticeMs >= kNoticeIntervalMs) ShowDrops(target, now, false);
    }
}

void ShowForwardDrops() {
    if (targetCount == 0) return;
    int64_t now = PlatMonotonicMilliseconds();
    for (int i = 0; i < targetCount; ++i) {
        if (now - targets[i]->lastNoticeMs >= kNoticeIntervalMs) ShowDrops(*targets[i], now, false);
    }
}

void StopForwarding(int timeoutMs) {
    forwardingCount = 0;
    int64_t deadline = PlatMonotonicMilliseconds() + timeoutMs;
    for (int i = 0; i < targetCount; ++i) {
        targets[i]->stopDeadline.store(deadline, std::memory_order_relaxed);
        targets[i]->stopping.store(true, std::memory_order_release);
        PlatEventSignal(targets[i]->wake);
    }
    for (int i = 0; i < targetCount; ++i) {
        ForwardTarget* target = targets[i];
        if (target->thread == nullptr) continue;  // stopped before
        PlatThreadJoin(target->thread);
        target->thread = nullptr;
        target->dropped.fetch_add(QueuedForwardMessages(target->ring), std::memory_order_relaxed);
        ReleaseQueue(target);
        ShowDrops(*target, PlatMonotonicMilliseconds(), true);
    }
}

uint64_t ForwardDroppedCount() {
    uint64_t dropped = 0;
    for (int i = 0; i < targetCount; ++i) dropped += targets[i]->dropped.load(std::memory_order_relaxed);
    return dropped;
}

int ForwardTargetCount() { return targetCount; }
