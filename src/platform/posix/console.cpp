// Console output on POSIX: ANSI colours on a terminal, plain bytes anywhere else.
#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/sgr.h"

namespace {

const char kReset[] = "\x1b[0m";

// Writes every byte of the vectors, going on after partial writes and interruptions. Gives up
// on any other error: a console that went away must not stop the logging.
void WriteAll(iovec* parts, int count) {
    while (count > 0) {
        ssize_t written = writev(STDOUT_FILENO, parts, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        size_t left = static_cast<size_t>(written);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
}

// Splits off a final CR LF or LF so that the colour can end before the line does (otherwise a
// blue background would spill into the next row when the terminal scrolls).
size_t LineEndLength(const char* data, size_t length) {
    if (length >= 2 && data[length - 2] == '\r' && data[length - 1] == '\n') return 2;
    if (length >= 1 && data[length - 1] == '\n') return 1;
    return 0;
}

// Whether standard output is a terminal, asked once: -1 until then.
int terminalState = -1;

// A second, non-blocking open file description of standard output when it is a terminal or a
// pipe, so that a lagging reader cannot hold the main thread up. Standard output itself stays
// blocking: the descriptor is shared with the shell and the other threads' messages.
int quickFd = -1;
// The end of a record the console took only in part, written before anything else once the
// console can take it, so that a lagging console never cuts a line and never holds anyone up.
constexpr size_t kPendingSize = 8192;
char pending[kPendingSize];
size_t pendingLength = 0;

// Standard output is /dev/null: records are not written at all, which saves a system call per
// line when the server runs in the background.
bool consoleDiscarded = false;

void OpenQuickConsole() {
    if (quickFd >= 0) close(quickFd);
    quickFd = -1;
    pendingLength = 0;
    consoleDiscarded = false;
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0) return;
    consoleDiscarded = S_ISCHR(st.st_mode) && major(st.st_rdev) == 1 && minor(st.st_rdev) == 3;
    if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) return;  // files never lag for long
    if (S_ISCHR(st.st_mode) && isatty(STDOUT_FILENO) != 1) return;  // /dev/null and the like
    quickFd = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Writes as much of the pending bytes as the console takes now; true when none are left.
bool WritePending() {
    while (pendingLength > 0) {
        ssize_t written = write(quickFd, pending, pendingLength);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
            pendingLength = 0;  // the console is gone
            return true;
        }
        memmove(pending, pending + written, pendingLength - static_cast<size_t>(written));
        pendingLength -= static_cast<size_t>(written);
    }
    return true;
}

// Writes the vectors without waiting: false when the console took nothing. What it took only in
// part is finished later, from `pending`.
bool TryWriteAll(iovec* parts, int count) {
    if (!WritePending()) return false;
    ssize_t written;
    do {
        written = writev(quickFd, parts, count);
    } while (written < 0 && errno == EINTR);
    if (written < 0) return !(errno == EAGAIN || errno == EWOULDBLOCK);  // other errors: gone
    size_t skip = static_cast<size_t>(written);
    for (int i = 0; i < count; ++i) {
        size_t partLength = parts[i].iov_len;
        if (skip >= partLength) {
            skip -= partLength;
            continue;
        }
        size_t rest = partLength - skip;
        if (rest > kPendingSize - pendingLength) rest = kPendingSize - pendingLength;
        memcpy(pending + pendingLength, static_cast<char*>(parts[i].iov_base) + skip, rest);
        pendingLength += rest;
        skip = 0;
    }
    return true;
}

}  // namespace

void PlatConsoleSetup() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    terminalState = isatty(STDOUT_FILENO) == 1 ? 1 : 0;
    OpenQuickConsole();
}

bool PlatConsoleIsTerminal() {
    if (terminalState < 0) terminalState = isatty(STDOUT_FILENO) == 1 ? 1 : 0;
    return terminalState == 1;
}

void PlatConsoleClear() {
    if (!PlatConsoleIsTerminal()) return;
    static char clear[] = "\x1b[2J\x1b[H";
    iovec part = {clear, sizeof clear - 1};
    WriteAll(&part, 1);
}

namespace {

// A record as the terminal gets it, in four parts: the colour (none for the normal attribute),
// the text, the reset and the line end. `sgr` holds kSgrSize bytes.
void TerminalParts(uint16_t attribute, const char* data, size_t length, char* sgr, iovec* parts) {
    char* bytes = const_cast<char*>(data);
    size_t sgrLength = attribute == kNormalAttribute ? 0 : FormatSgr(attribute, sgr);
    size_t endLength = LineEndLength(data, length);
    parts[0] = {sgr, sgrLength};
    parts[1] = {bytes, length - endLength};
    parts[2] = {const_cast<char*>(kReset), sizeof kReset - 1};
    parts[3] = {bytes + length - endLength, endLength};
}

}  // namespace

void PlatConsoleWrite(uint16_t attribute, const char* data, size_t length) {
    if (consoleDiscarded) return;
    if (!PlatConsoleIsTerminal()) {
        iovec part = {const_cast<char*>(data), length};
        WriteAll(&part, 1);
        return;
    }
    char sgr[kSgrSize];
    iovec parts[4];
    TerminalParts(attribute, data, length, sgr, parts);
    WriteAll(parts, 4);
}

bool PlatConsoleTryWrite(uint16_t attribute, const char* data, size_t length) {
    if (quickFd < 0) {
        PlatConsoleWrite(attribute, data, length);
        return true;
    }
    if (!PlatConsoleIsTerminal()) {
        iovec part = {const_cast<char*>(data), length};
        return TryWriteAll(&part, 1);
    }
    char sgr[kSgrSize];
    iovec parts[4];
    TerminalParts(attribute, data, length, sgr, parts);
    return TryWriteAll(parts, 4);
}

void PlatConsoleFinish(int timeoutMs) {
    for (int waited = 0; quickFd >= 0 && !WritePending() && waited < timeoutMs; ++waited) {
        pollfd watched = {quickFd, POLLOUT, 0};
        poll(&watched, 1, 1);
    }
}

bool PlatConsoleDiscarded() { return consoleDiscarded; }
