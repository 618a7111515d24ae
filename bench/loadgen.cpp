// Paced UDP load generator: numbered, time-stamped lines to 127.0.0.1 at a given rate, bounded in
// count and time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common.h"

namespace {

constexpr int64_t kMaxDurationS = 120;       // a run never sends for longer than this
constexpr int64_t kMaxCount = 50'000'000;    // nor more lines than this
constexpr int kMaxBatch = 64;                // datagrams per sendmmsg
constexpr int kMaxDatagram = 65507;
constexpr int kMaxSenders = 256;

struct Options {
    int64_t port = 0;
    int64_t rate = 10000;       // lines per second
    int64_t length = 80;        // bytes per line, marker and line feed included
    int64_t perDatagram = 1;    // lines per datagram
    int64_t marker = 0xE7;
    int64_t count = -1;         // lines; default rate * duration
    int64_t durationS = 2;
    int64_t tickUs = 100;       // pacing granularity
    int64_t senders = 1;        // sockets (source ports) the datagrams take turns on
    const char* run = "r0";
};

void Usage() {
    fprintf(stderr,
            "usage: bench_loadgen --port P [--rate LINES_PER_S] [--length BYTES] [--per-datagram N]\n"
            "                     [--marker BYTE] [--count N] [--duration S] [--tick-us US] [--run TAG]\n"
            "                     [--senders N]\n"
            "Sends numbered lines to 127.0.0.1:P, evenly paced; prints what it sent. With N senders\n"
            "the datagrams take turns on N sockets, each its own source port.\n");
}

bool ReadOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int64_t* target = nullptr;
        if (strcmp(name, "--port") == 0) target = &o->port;
        else if (strcmp(name, "--rate") == 0) target = &o->rate;
        else if (strcmp(name, "--length") == 0) target = &o->length;
        else if (strcmp(name, "--per-datagram") == 0) target = &o->perDatagram;
        else if (strcmp(name, "--marker") == 0) target = &o->marker;
        else if (strcmp(name, "--count") == 0) target = &o->count;
        else if (strcmp(name, "--duration") == 0) target = &o->durationS;
        else if (strcmp(name, "--tick-us") == 0) target = &o->tickUs;
        else if (strcmp(name, "--senders") == 0) target = &o->senders;
        else if (strcmp(name, "--run") == 0 && value != nullptr) {
            o->run = value;
            ++i;
            continue;
        } else {
            fprintf(stderr, "unknown option %s\n", name);
            return false;
        }
        if (!ParseInt(value, target)) {
            fprintf(stderr, "%s needs a number\n", name);
            return false;
        }
        ++i;
    }
    int64_t minLength = 1 + int64_t(strlen(kLineTag) + strlen(o->run)) + 1 + kSeqDigits + 1 +
                        kStampDigits + 1 + 1;
    if (o->port < 1 || o->port > 65535) return fprintf(stderr, "--port 1..65535\n"), false;
    if (o->rate < 1 || o->rate > 10'000'000) return fprintf(stderr, "--rate 1..10000000\n"), false;
    if (o->length < minLength || o->length > 1024)
        return fprintf(stderr, "--length %lld..1024\n", (long long)minLength), false;
    if (o->perDatagram < 1 || o->perDatagram * o->length > kMaxDatagram)
        return fprintf(stderr, "--per-datagram too large\n"), false;
    if (o->marker < 0 || o->marker > 255) return fprintf(stderr, "--marker 0..255\n"), false;
    if (o->durationS < 1 || o->durationS > kMaxDurationS)
        return fprintf(stderr, "--duration 1..%lld\n", (long long)kMaxDurationS), false;
    if (o->count < 0) o->count = o->rate * o->durationS;
    if (o->count < 1 || o->count > kMaxCount)
        return fprintf(stderr, "--count 1..%lld\n", (long long)kMaxCount), false;
    if (o->tickUs < 1 || o->tickUs > 100000) return fprintf(stderr, "--tick-us 1..100000\n"), false;
    if (o->senders < 1 || o->senders > kMaxSenders)
        return fprintf(stderr, "--senders 1..%d\n", kMaxSenders), false;
    return true;
}

/// Writes line `seq` (stamped `stampNs`) of `length` bytes at `out`; the template holds the
/// fixed parts.
void FillLine(char* out, const char* lineTemplate, int length, size_t seqOffset, uint64_t seq,
              uint64_t stampNs) {
    memcpy(out, lineTemplate, size_t(length));
    PutDigits(out + seqOffset, seq, kSeqDigits);
    PutDigits(out + seqOffset + kSeqDigits + 1, stampNs, kStampDigits);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ReadOptions(argc, argv, &o)) {
        Usage();
        return 2;
    }
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);  // wake on time: pacing depends on it

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(o.port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // the only target this tool ever has
    std::vector<int> fds;
    for (int64_t i = 0; i < o.senders; ++i) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) return perror("socket"), 1;
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return perror("connect"), 1;
        fds.push_back(fd);
    }
    size_t turn = 0;  // the sender of the next datagram

    const int length = int(o.length);
    std::vector<char> lineTemplate(size_t(length), 'x');
    lineTemplate[0] = char(o.marker);
    int head = snprintf(lineTemplate.data() + 1, size_t(length), "%s%s ", kLineTag, o.run);
    size_t seqOffset = 1 + size_t(head);
    lineTemplate[seqOffset + kSeqDigits] = ' ';
    lineTemplate[seqOffset + kSeqDigits + 1 + kStampDigits] = ' ';
    lineTemplate[size_t(length) - 1] = '\n';

    const int64_t perDatagram = o.perDatagram;
    const size_t datagramBytes = size_t(perDatagram * length);
    std::vector<char> buffers(size_t(kMaxBatch) * datagramBytes);
    mmsghdr messages[kMaxBatch];
    iovec vectors[kMaxBatch];

    const int64_t start = MonotonicNs();
    const int64_t deadline = start + (o.durationS + 5) * 1000000000;  // hard stop, even if behind
    int64_t sent = 0, datagrams = 0, errors = 0, maxBehind = 0;
    while (sent < o.count) {
        int64_t now = MonotonicNs();
        if (now > deadline) break;
        // Lines due by now at the offered rate, rounded down to whole datagrams (the last one may
        // be short).
        int64_t due = (now - start) * o.rate / 1000000000;
        if (due > o.count) due = o.count;
        int64_t lag = due - sent;
        if (lag < perDatagram && due < o.count) {
            int64_t nextDue = start + (sent + perDatagram) * 1000000000 / o.rate;
            int64_t wake = now + o.tickUs * 1000;
            if (nextDue > wake) wake = nextDue;
            timespec ts{time_t(wake / 1000000000), long(wake % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
            continue;
        }
        if (lag > maxBehind) maxBehind = lag;
        int batch = 0;
        while (lag > 0 && batch < kMaxBatch) {
            int64_t lines = lag < perDatagram ? lag : perDatagram;
            char* out = buffers.data() + size_t(batch) * datagramBytes;
            for (int64_t k = 0; k < lines; ++k)
                FillLine(out + k * length, lineTemplate.data(), length, seqOffset,
                         uint64_t(sent + k), uint64_t(now));
            vectors[batch].iov_base = out;
            vectors[batch].iov_len = size_t(lines * length);
            messages[batch].msg_hdr = msghdr{};
            messages[batch].msg_hdr.msg_iov = &vectors[batch];
            messages[batch].msg_hdr.msg_iovlen = 1;
            sent += lines;
            lag -= lines;
            ++batch;
        }
        int done = 0;
        while (fds.size() > 1 && done < batch) {  // several senders: one datagram each in turn
            if (send(fds[turn], vectors[done].iov_base, vectors[done].iov_len, 0) < 0) {
                if (errno == EINTR) continue;
                ++errors;
            }
            turn = (turn + 1) % fds.size();
            ++done;
        }
        while (done < batch) {
            int r = sendmmsg(fds[0], messages + done, unsigned(batch - done), 0);
            if (r < 0) {
                if (errno == EINTR) continue;
                ++errors;  // e.g. ECONNREFUSED when nothing listens yet; the datagram is gone
                ++done;
                continue;
            }
            done += r;
        }
        datagrams += batch;
    }
    double elapsed = double(MonotonicNs() - start) / 1e9;
    printf("sent=%lld datagrams=%lld elapsed_s=%.3f achieved_rate=%.0f errors=%lld max_behind=%lld\n",
           (long long)sent, (long long)datagrams, elapsed, elapsed > 0 ? double(sent) / elapsed : 0.0,
           (long long)errors, (long long)maxBehind);
    for (int fd : fds) close(fd);
    return 0;
}
