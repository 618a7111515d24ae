// A bare recvmmsg reader: datagrams from 127.0.0.1:PORT appended to a file, flushed after each
// datagram unless told not to. The ceiling for any receiver that must flush every line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common.h"

namespace {

constexpr int kBatch = 64;
constexpr int kDatagramRoom = 2048;

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
    int64_t port = 0, rcvbuf = 0;
    const char* outPath = nullptr;
    bool flushEach = true;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--port") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &port)) ++i;
        else if (strcmp(argv[i], "--rcvbuf") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &rcvbuf)) ++i;
        else if (strcmp(argv[i], "--out") == 0 && i + 1 < argc) outPath = argv[++i];
        else if (strcmp(argv[i], "--no-flush") == 0) flushEach = false;
        else {
            port = 0;
            break;
        }
    }
    if (port < 1 || port > 65535 || outPath == nullptr) {
        fprintf(stderr, "usage: bench_bare_reader --port P --out FILE [--rcvbuf BYTES] [--no-flush]\n"
                        "Runs until SIGTERM or SIGINT.\n");
        return 2;
    }
    struct sigaction sa{};
    sa.sa_handler = OnStop;  // no SA_RESTART: the blocking receive must return on a signal
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return perror("socket"), 1;
    if (rcvbuf > 0) {
        int bytes = int(rcvbuf);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(uint16_t(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return perror("bind"), 1;
    FILE* out = fopen(outPath, "a");
    if (out == nullptr) return perror(outPath), 1;

    static char buffers[kBatch][kDatagramRoom];
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    while (!stopRequested) {
        for (int i = 0; i < kBatch; ++i) {
            vectors[i] = iovec{buffers[i], kDatagramRoom};
            messages[i].msg_hdr = msghdr{};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        int got = recvmmsg(fd, messages, kBatch, MSG_WAITFORONE, nullptr);
        if (got < 0) {
            if (errno == EINTR) continue;
            perror("recvmmsg");
            break;
        }
        for (int i = 0; i < got; ++i) {
            fwrite(buffers[i], 1, messages[i].msg_len, out);
            if (flushEach) fflush(out);
        }
    }
    fclose(out);
    close(fd);
    return 0;
}
