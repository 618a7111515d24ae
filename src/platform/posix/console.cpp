// Console output on POSIX: ANSI colours on a terminal, plain bytes anywhere else.
#include "platform/console.h"

#include <errno.h>
#include <stdio.h>
#include <sys/uio.h>
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

}  // namespace

void PlatConsoleSetup() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    terminalState = isatty(STDOUT_FILENO) == 1 ? 1 : 0;
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

void PlatConsoleWrite(uint16_t attribute, const char* data, size_t length) {
    char* bytes = const_cast<char*>(data);
    if (!PlatConsoleIsTerminal()) {
        iovec part = {bytes, length};
        WriteAll(&part, 1);
        return;
    }
    char sgr[kSgrSize];
    size_t sgrLength = attribute == kNormalAttribute ? 0 : FormatSgr(attribute, sgr);
    size_t endLength = LineEndLength(data, length);
    iovec parts[4] = {
        {sgr, sgrLength},
        {bytes, length - endLength},
        {const_cast<char*>(kReset), sizeof kReset - 1},
        {bytes + length - endLength, endLength},
    };
    WriteAll(parts, endLength > 0 ? 4 : 3);
}
