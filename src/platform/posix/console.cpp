// Console output on POSIX: ANSI colours on a terminal (or wherever the colour choice asks for
// them), plain bytes anywhere else.
#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/posix/sgr.h"
#include "platform/posix/terminal_state.h"

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

ConsoleColors colorChoice = ConsoleColors::Auto;

// Whether records get their colour sequences.
bool Colouring() {
    return colorChoice == ConsoleColors::Always ||
           (colorChoice == ConsoleColors::Auto && PlatConsoleIsTerminal());
}

}  // namespace

bool PlatConsoleInBandAttributes() { return Colouring(); }

namespace {

// A stream that must never hold the caller up: a second, non-blocking open file description of
// a terminal or a pipe (the descriptor itself stays blocking: it is shared with the shell), or the
// descriptor itself when it is a socket (a service manager's journal), which is then written with
// per-call non-blocking sends. fd is -1 for a file, which never lags for long.
struct QuickStream {
    int fd = -1;
    bool socket = false;
};

QuickStream quickOut;  // standard output
QuickStream quickErr;  // standard error

void OpenQuick(int fd, QuickStream& quick) {
    if (quick.fd >= 0 && !quick.socket) close(quick.fd);
    quick = QuickStream();
    struct stat st;
    if (fstat(fd, &st) != 0) return;
    if (S_ISSOCK(st.st_mode)) {
        quick.fd = fd;
        quick.socket = true;
        return;
    }
    if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) return;  // files never lag for long
    if (S_ISCHR(st.st_mode) && isatty(fd) != 1) return;          // /dev/null and the like
    char path[32];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    quick.fd = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// One write that never waits; as writev.
ssize_t QuickWrite(const QuickStream& quick, const iovec* parts, int count) {
    ssize_t written;
    do {
        if (quick.socket) {
            msghdr message;
            memset(&message, 0, sizeof message);
            message.msg_iov = const_cast<iovec*>(parts);
            message.msg_iovlen = static_cast<size_t>(count);
            written = sendmsg(quick.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
        } else {
            written = writev(quick.fd, parts, count);
        }
    } while (written < 0 && errno == EINTR);
    return written;
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

// Milliseconds left before `deadline` (on the PlatMonotonicMilliseconds scale), at least 0. The
// waits below go by the clock, not by a count of short polls, which a loaded machine stretches.
int64_t LeftMs(int64_t deadline) {
    int64_t left = deadline - PlatMonotonicMilliseconds();
    return left > 0 ? left : 0;
}

// Waits up to `timeoutMs` for the stream to take more.
void WaitWritable(const QuickStream& quick, int timeoutMs) {
    pollfd watched = {quick.fd, POLLOUT, 0};
    poll(&watched, 1, timeoutMs);
}

// The end of a record the console took only in part, written before anything else once the
// console can take it, so that a lagging console never cuts a line and never holds anyone up.
constexpr size_t kPendingSize = 8192;
char pending[kPendingSize];
size_t pendingLength = 0;

// Standard output is /dev/null: records are not written at all, which saves a system call per
// line when the server runs in the background.
bool consoleDiscarded = false;

// The console reported that it is gone (a hung-up terminal, a pipe without a reader): nothing is
// kept or waited for any more.
bool consoleGone = false;

void GiveUpConsole() {
    consoleGone = true;
    pendingLength = 0;
}

void OpenQuickConsole() {
    OpenQuick(STDOUT_FILENO, quickOut);
    pendingLength = 0;
    consoleGone = false;
    struct stat st;
    consoleDiscarded = fstat(STDOUT_FILENO, &st) == 0 && S_ISCHR(st.st_mode) &&
                       major(st.st_rdev) == 1 && minor(st.st_rdev) == 3;
    OpenQuick(STDERR_FILENO, quickErr);
}

// Writes as much of the pending bytes as the console takes now; true when none are left.
bool WritePending() {
    while (pendingLength > 0) {
        iovec part = {pending, pendingLength};
        ssize_t written = QuickWrite(quickOut, &part, 1);
        if (written < 0) {
            if (WouldBlock()) return false;
            GiveUpConsole();
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
    ssize_t written = QuickWrite(quickOut, parts, count);
    if (written < 0) {
        if (WouldBlock()) return false;
        GiveUpConsole();
        return true;
    }
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

void PlatEnsureStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is taken, which is this one: the lower ones are open by now.
        int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) close(opened);
    }
}

void PlatConsoleSetup(ConsoleColors colors) {
    colorChoice = colors;
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    terminalState = isatty(STDOUT_FILENO) == 1 ? 1 : 0;
    OpenQuickConsole();
}

bool PlatConsoleIsTerminal() {
    if (terminalState < 0) terminalState = isatty(STDOUT_FILENO) == 1 ? 1 : 0;
    return terminalState == 1;
}

bool PlatErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

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
    if (!Colouring()) {
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
    if (consoleGone) return true;
    if (quickOut.fd < 0) {
        PlatConsoleWrite(attribute, data, length);
        return true;
    }
    if (!Colouring()) {
        iovec part = {const_cast<char*>(data), length};
        return TryWriteAll(&part, 1);
    }
    char sgr[kSgrSize];
    iovec parts[4];
    TerminalParts(attribute, data, length, sgr, parts);
    return TryWriteAll(parts, 4);
}

namespace {

// The vectors of `count` records, up to 4 each; `firstPart[r]` is where record r's begin and
// `firstPart[count]` is the number in all. `sgr` holds kSgrSize bytes per record.
int RecordParts(const PlatConsoleRecord* records, int count, char* sgr, iovec* parts, int* firstPart) {
    bool colouring = Colouring();
    int used = 0;
    for (int r = 0; r < count; ++r) {
        firstPart[r] = used;
        const PlatConsoleRecord& record = records[r];
        if (record.plain || !colouring) {
            parts[used++] = {const_cast<char*>(record.data), record.length};
            continue;
        }
        TerminalParts(record.attribute, record.data, record.length, sgr + r * kSgrSize, parts + used);
        used += 4;
    }
    firstPart[count] = used;
    return used;
}

// How many leading records of a write that took `written` bytes of the parts were begun; the end
// of one begun but not finished goes to `pending`.
int RecordsTaken(const iovec* parts, const int* firstPart, int count, size_t written) {
    for (int r = 0; r < count; ++r) {
        size_t recordLength = 0;
        for (int p = firstPart[r]; p < firstPart[r + 1]; ++p) recordLength += parts[p].iov_len;
        if (written >= recordLength) {
            written -= recordLength;
            continue;
        }
        if (written == 0) return r;
        for (int p = firstPart[r]; p < firstPart[r + 1]; ++p) {
            size_t skip = written < parts[p].iov_len ? written : parts[p].iov_len;
            written -= skip;
            size_t rest = parts[p].iov_len - skip;
            if (rest > kPendingSize - pendingLength) rest = kPendingSize - pendingLength;
            memcpy(pending + pendingLength, static_cast<char*>(parts[p].iov_base) + skip, rest);
            pendingLength += rest;
        }
        return r + 1;
    }
    return count;
}

}  // namespace

int PlatConsoleTryWriteRecords(const PlatConsoleRecord* records, int count) {
    if (count > kPlatConsoleRecordsPerWrite) count = kPlatConsoleRecordsPerWrite;
    if (consoleGone || consoleDiscarded || count <= 0) return count;
    static char sgr[kPlatConsoleRecordsPerWrite * kSgrSize];
    static iovec parts[4 * kPlatConsoleRecordsPerWrite];
    static int firstPart[kPlatConsoleRecordsPerWrite + 1];
    int used = RecordParts(records, count, sgr, parts, firstPart);
    if (quickOut.fd < 0) {
        WriteAll(parts, used);
        return count;
    }
    // Written in groups of at most PIPE_BUF bytes, which a pipe takes whole or not at all: a
    // record is then never cut at a pipe whose reader hangs.
    for (int done = 0; done < count;) {
        if (!WritePending()) return done;
        int end = done;
        for (size_t bytes = 0; end < count; ++end) {
            size_t recordBytes = 0;
            for (int p = firstPart[end]; p < firstPart[end + 1]; ++p) recordBytes += parts[p].iov_len;
            if (end > done && bytes + recordBytes > PIPE_BUF) break;
            bytes += recordBytes;
        }
        ssize_t written = QuickWrite(quickOut, parts + firstPart[done], firstPart[end] - firstPart[done]);
        if (written < 0) {
            if (WouldBlock()) return done;
            GiveUpConsole();
            return count;
        }
        int taken = RecordsTaken(parts, firstPart + done, end - done, static_cast<size_t>(written));
        done += taken;
        if (done < end) return done;
    }
    return count;
}

bool PlatConsoleFinish(int timeoutMs) {
    // A terminal that hung up needs no catching up: it is gone, or about to be, and nobody reads
    // it any more.
    if (terminalState == 1 && TerminalHungUp()) GiveUpConsole();
    const int64_t deadline = PlatMonotonicMilliseconds() + timeoutMs;
    while (quickOut.fd >= 0 && !consoleGone && !WritePending() && LeftMs(deadline) > 0) {
        pollfd watched = {quickOut.fd, POLLOUT, 0};
        if (poll(&watched, 1, 1) > 0 && (watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            GiveUpConsole();
        }
    }
    return consoleGone || pendingLength == 0;
}

void PlatConsoleGiveUp() { GiveUpConsole(); }

bool PlatConsoleTryWriteText(const char* data, size_t length) {
    iovec part = {const_cast<char*>(data), length};
    if (consoleDiscarded) return true;
    if (quickOut.fd < 0) {
        WriteAll(&part, 1);
        return true;
    }
    return TryWriteAll(&part, 1);
}

bool PlatConsoleWriteTextWithin(const char* data, size_t length, int timeoutMs) {
    const int64_t deadline = PlatMonotonicMilliseconds() + timeoutMs;
    for (;;) {
        if (PlatConsoleTryWriteText(data, length)) {
            PlatConsoleFinish(static_cast<int>(LeftMs(deadline)));
            return true;
        }
        if (LeftMs(deadline) == 0 || consoleGone) return false;
        WaitWritable(quickOut, 1);
    }
}

bool PlatErrorWriteWithin(const char* data, size_t length, int timeoutMs) {
    iovec part = {const_cast<char*>(data), length};
    if (quickErr.fd < 0) {
        ssize_t written;
        do {
            written = write(STDERR_FILENO, data, length);
        } while (written < 0 && errno == EINTR);
        return written == static_cast<ssize_t>(length);
    }
    // A message cut by the time limit is left cut: standard error keeps no pending bytes.
    const int64_t deadline = PlatMonotonicMilliseconds() + timeoutMs;
    while (part.iov_len > 0) {
        ssize_t written = QuickWrite(quickErr, &part, 1);
        if (written < 0 && !WouldBlock()) return false;
        if (written > 0) {
            part.iov_base = static_cast<char*>(part.iov_base) + written;
            part.iov_len -= static_cast<size_t>(written);
            continue;
        }
        if (LeftMs(deadline) == 0) return false;
        WaitWritable(quickErr, 1);
    }
    return true;
}

