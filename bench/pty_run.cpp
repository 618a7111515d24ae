// Runs a command with a pseudo-terminal as its console and reads everything it shows, as a
// terminal emulator would (optionally no faster than a given rate), so console cost is measured
// on a real terminal device. At the end it tells on standard error how many bytes and lines it read
// and how long it took from the first byte to the last.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common.h"

namespace {

volatile sig_atomic_t stopSignal = 0;

void OnStop(int signal) { stopSignal = signal; }

}  // namespace

int main(int argc, char** argv) {
    int64_t throttleKBps = 0;
    const char* pidFile = nullptr;
    const char* saveFile = nullptr;
    int first = 1;
    for (; first < argc; ++first) {
        if (strcmp(argv[first], "--throttle-kbps") == 0 && first + 1 < argc &&
            ParseInt(argv[first + 1], &throttleKBps))
            ++first;
        else if (strcmp(argv[first], "--pidfile") == 0 && first + 1 < argc) pidFile = argv[++first];
        else if (strcmp(argv[first], "--save") == 0 && first + 1 < argc) saveFile = argv[++first];
        else if (strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        } else {
            first = argc;
        }
    }
    if (first >= argc || throttleKBps < 0) {
        fprintf(stderr, "usage: bench_pty_run [--throttle-kbps N] [--pidfile FILE] [--save FILE] -- COMMAND ARGS...\n"
                        "SIGTERM and SIGINT are passed on to the command.\n");
        return 2;
    }
    winsize size{};
    size.ws_col = 128;
    size.ws_row = 50;
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) return perror("forkpty"), 1;
    if (child == 0) {
        execvp(argv[first], argv + first);
        perror("execvp");
        _exit(127);
    }
    if (pidFile != nullptr) {
        FILE* f = fopen(pidFile, "w");
        if (f != nullptr) {
            fprintf(f, "%d\n", int(child));
            fclose(f);
        }
    }
    FILE* save = saveFile != nullptr ? fopen(saveFile, "wb") : nullptr;
    if (saveFile != nullptr && save == nullptr) perror(saveFile);
    struct sigaction sa{};
    sa.sa_handler = OnStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    char buffer[4096];
    int64_t total = 0, lines = 0, firstNs = 0, lastNs = 0;
    const int64_t start = MonotonicNs();
    bool forwarded = false;
    for (;;) {
        if (stopSignal != 0 && !forwarded) {
            kill(child, stopSignal);
            forwarded = true;
        }
        pollfd p{master, POLLIN, 0};
        int ready = poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            if (waitpid(child, nullptr, WNOHANG) == child) {
                child = -1;
                break;
            }
            continue;
        }
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            break;  // EIO: the command closed the terminal
        }
        lastNs = MonotonicNs();
        if (total == 0) firstNs = lastNs;
        total += got;
        for (ssize_t i = 0; i < got; ++i) lines += buffer[i] == '\n';
        if (save != nullptr) fwrite(buffer, 1, size_t(got), save);
        if (throttleKBps > 0) {
            int64_t dueNs = start + total * 1000000 / throttleKBps;  // KB/s = bytes per ms
            int64_t now = MonotonicNs();
            if (dueNs > now) usleep(useconds_t((dueNs - now) / 1000));
        }
    }
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    if (save != nullptr) fclose(save);
    fprintf(stderr, "pty bytes=%lld lines=%lld first_to_last_s=%.3f\n", (long long)total,
            (long long)lines, double(lastNs - firstNs) / 1e9);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
