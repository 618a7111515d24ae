// Forwarding, the main thread's side: starting a thread per target, formatting and queueing each
// logged line, the notices of drops and outages, and the stop.
#include "output/forwarder.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "output/forward_target.h"
#include "output/syslog_format.h"
#include "platform/clock.h"
#include "platform/net_client.h"

static_assert(kForwardQueueMessages == kForwardRingMessages, "one bound for the queue");

namespace {

constexpr int kMaxTargets = 8;
constexpr int kHostNameSize = 256;
constexpr int kNoticeIntervalMs = 1000;
constexpr int kBatchBytes = 64 * 1024 + kSyslogFrameHeaderSize + kMaxSyslogMessage;

ForwardTarget* targets[kMaxTargets];
int targetCount = 0;      // targets started; their counters outlive the stop
int forwardingCount = 0;  // targets that take messages: 0 once stopped
int facilityCode = 1;
bool relayMessages = false;
char hostName[kHostNameSize] = "-";

// The message being queued, formatted once for every target (main thread only).
char message[kMaxSyslogMessage];

// The timestamp of the current second, formatted once a second; the milliseconds are patched in.
int64_t stampSecond = -1;
char stamp[kSyslogTimestampSize];
int stampYear = 1970;
int stampOffsetSeconds = 0;
constexpr int kStampMillisecondsAt = 20;  // "YYYY-MM-DDTHH:MM:SS." is 20 bytes

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
        stampYear = local.tm_year + 1900;
        stampOffsetSeconds = offset;
    }
    stamp[kStampMillisecondsAt] = static_cast<char>('0' + milliseconds / 100);
    stamp[kStampMillisecondsAt + 1] = static_cast<char>('0' + milliseconds / 10 % 10);
    stamp[kStampMillisecondsAt + 2] = static_cast<char>('0' + milliseconds % 10);
    return stamp;
}

// Writes the target's next notice, if one is due, into `text`; its length, or 0.
int NextNotice(ForwardTarget& target, int64_t now, bool final, char* text, int size) {
    int length = 0;
    uint32_t changes = target.outageChanges.load(std::memory_order_acquire);
    if (changes != target.outageChangesShown) {
        if (target.outageChangesShown % 2 == 0) {
            length = snprintf(text, static_cast<size_t>(size), "WARNING, forwarding to %s: cannot connect (%s); retrying\n",
                              target.url, PlatNetErrorText(target.outageError.load(std::memory_order_relaxed)));
        } else {
            length = snprintf(text, static_cast<size_t>(size), "forwarding to %s: connected; %llu queued messages being sent\n",
                              target.url, static_cast<unsigned long long>(
                                              target.queuedAtReconnect.load(std::memory_order_relaxed)));
        }
        ++target.outageChangesShown;
    } else {
        // Drops while the collector was away are told apart from drops of a collector too slow.
        uint64_t dropped = target.dropped.load(std::memory_order_relaxed);
        if (dropped == target.droppedShown || (!final && now - target.lastDropNoticeMs < kNoticeIntervalMs))
            return 0;
        uint64_t unreachable = target.droppedUnreachable - target.droppedUnreachableShown;
        uint64_t slow = dropped - target.droppedShown - unreachable;
        bool tellUnreachable = unreachable > 0;
        length = snprintf(text, static_cast<size_t>(size), "WARNING, forwarding to %s: %llu messages dropped (%s)\n",
                          target.url, static_cast<unsigned long long>(tellUnreachable ? unreachable : slow),
                          tellUnreachable ? "collector unreachable" : "collector too slow");
        target.droppedUnreachableShown += tellUnreachable ? unreachable : 0;
        target.droppedShown += tellUnreachable ? unreachable : slow;
        if (target.droppedShown == dropped) target.lastDropNoticeMs = now;
    }
    if (length < 0) return 0;
    return length < size ? length : size - 1;
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

bool StartForwarding(const char* const* urls, int count, int facility, bool relaySyslog) {
    facilityCode = facility;
    relayMessages = relaySyslog;
    ReadHostName();
    for (int i = 0; i < count && i < kMaxTargets; ++i) {
        ForwardTarget* target = new ForwardTarget();
        snprintf(target->url, sizeof target->url, "%s", urls[i]);
        bool ready = ParseForwardUrl(urls[i], &target->where) && CreateForwardRing(target->ring);
        target->wake = ready ? PlatEventCreate() : nullptr;
        target->batch = static_cast<char*>(malloc(kBatchBytes));
        target->lastDropNoticeMs = -kNoticeIntervalMs;
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

namespace {

// The length of a syslog message's record without its line end.
int WithoutLineEnd(const char* text, int length) {
    if (length > 0 && text[length - 1] == '\n') --length;
    if (length > 0 && text[length - 1] == '\r') --length;
    return length;
}

}  // namespace

void ForwardLine(uint16_t attribute, const char* text, int textLength, const char* sender) {
    if (forwardingCount == 0) return;
    int length = 0;
    SyslogHeaderParts parts;
    if (relayMessages) {
        length = WithoutLineEnd(text, textLength);
        parts = ParseSyslogHeader(text, length);
    }
    if (parts.priority >= 0) {
        SyslogRelayContext context = {CurrentStamp(), stampYear, stampOffsetSeconds, sender};
        length = FormatSyslogRelay(text, length, parts, context, message);
    } else {
        SyslogHeader header = {facilityCode * 8 + SyslogSeverity(attribute), CurrentStamp(), hostName, sender};
        length = FormatSyslogMessage(header, text, textLength, message);
    }
    for (int i = 0; i < forwardingCount; ++i) {
        ForwardTarget& target = *targets[i];
        if (PushForwardMessage(target.ring, message, length)) {
            // Wakes the thread only when it sleeps (see WaitForMessages for the ordering).
            if (target.sleeping.load(std::memory_order_seq_cst) != 0 && target.sleeping.exchange(0) != 0)
                PlatEventSignal(target.wake);
            continue;
        }
        target.dropped.store(target.dropped.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        if (!target.connected.load(std::memory_order_relaxed)) ++target.droppedUnreachable;
    }
}

int TakeForwardNotice(char* text, int size, bool final) {
    int64_t now = PlatMonotonicMilliseconds();
    for (int i = 0; i < targetCount; ++i) {
        int length = NextNotice(*targets[i], now, final, text, size);
        if (length > 0) return length;
    }
    return 0;
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
        uint64_t unsent = QueuedForwardMessages(target->ring);
        target->dropped.fetch_add(unsent, std::memory_order_relaxed);
        if (!target->connected.load(std::memory_order_relaxed)) target->droppedUnreachable += unsent;
        ReleaseQueue(target);
    }
}

uint64_t ForwardDroppedCount() {
    uint64_t dropped = 0;
    for (int i = 0; i < targetCount; ++i) dropped += targets[i]->dropped.load(std::memory_order_relaxed);
    return dropped;
}

int ForwardTargetCount() { return targetCount; }
