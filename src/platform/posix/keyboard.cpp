// Keyboard on POSIX: a terminal goes to non-canonical, no-echo mode while the process is in its
// foreground; a pipe, FIFO or file gives one key press per byte. Nothing else is read: standard
// input that is a socket or a device is not a keyboard.
#include "platform/keyboard.h"

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/terminal_state.h"

namespace {

// Written once, before haveSavedMode is set, and only read afterwards (also by signal handlers).
termios savedMode;
termios keyMode;
std::atomic<bool> haveSavedMode{false};
std::atomic<bool> keyboardActive{false};  // from PlatKeyboardStart to PlatKeyboardRestore
std::atomic<bool> keyModeOn{false};
std::atomic<bool> suspending{false};

bool terminalInput = false;
bool inputEnded = false;
bool restoreRegistered = false;

// Only the foreground process group may change the terminal's mode or read it: from the
// background either would stop the process (SIGTTOU, SIGTTIN). A terminal that is not the
// controlling one has no foreground to ask about and raises neither.
bool InForeground() {
    int savedErrno = errno;
    pid_t foreground = tcgetpgrp(STDIN_FILENO);
    bool inFront = foreground == getpgrp() || (foreground < 0 && errno == ENOTTY);
    errno = savedErrno;
    return inFront;
}

void RestoreAtExit() { PlatKeyboardRestore(); }

}  // namespace

void TerminalLeaveKeyMode() {
    keyModeOn.store(false);
    if (haveSavedMode.load() && InForeground()) tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
}

void TerminalEnterKeyMode() {
    if (!keyboardActive.load() || suspending.load() || !InForeground()) return;
    keyModeOn.store(true);
    tcsetattr(STDIN_FILENO, TCSANOW, &keyMode);
}

void TerminalSuspending(bool underWay) { suspending.store(underWay); }

void PlatKeyboardStart() {
    inputEnded = false;
    struct stat info;
    terminalInput = isatty(STDIN_FILENO) == 1;
    if (!terminalInput) {
        inputEnded = fstat(STDIN_FILENO, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISREG(info.st_mode));
        return;
    }
    // Reading the mode is allowed from the background too; it is changed in the foreground only.
    if (!haveSavedMode.load()) {
        if (tcgetattr(STDIN_FILENO, &savedMode) != 0) return;
        keyMode = savedMode;
        keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keyMode.c_cc[VMIN] = 1;
        keyMode.c_cc[VTIME] = 0;
        haveSavedMode.store(true);
    }
    keyboardActive.store(true);
    if (!restoreRegistered) {
        atexit(RestoreAtExit);
        restoreRegistered = true;
    }
    TerminalEnterKeyMode();
}

bool PlatKeyWaiting() {
    if (inputEnded) return false;
    if (terminalInput) {
        if (!InForeground()) return false;
        // Started in the background, or back after a stop: the foreground is ours now.
        if (!keyModeOn.load()) TerminalEnterKeyMode();
    }
    pollfd watched = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&watched, 1, 0);
    if (ready <= 0) return false;
    if (watched.revents & POLLNVAL) {
        inputEnded = true;
        return false;
    }
    return true;
}

int PlatReadKey() {
    unsigned char key;
    ssize_t got;
    do {
        got = read(STDIN_FILENO, &key, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1) return key;
    // End of input (or a hung-up terminal): stop looking at it, so the loop never spins on it.
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) inputEnded = true;
    return -1;
}

void PlatKeyboardRestore() {
    if (!keyboardActive.exchange(false)) return;
    TerminalLeaveKeyMode();
}
