// Keyboard on POSIX: a terminal goes to non-canonical, no-echo mode for the run; a pipe or file
// gives one key press per byte.
#include "platform/keyboard.h"

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

termios savedMode;
bool modeSaved = false;
bool inputEnded = false;
bool restoreRegistered = false;

void RestoreAtExit() { PlatKeyboardRestore(); }

}  // namespace

void PlatKeyboardStart() {
    inputEnded = false;
    if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &savedMode) != 0) return;
    termios raw = savedMode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
    modeSaved = true;
    if (!restoreRegistered) {
        atexit(RestoreAtExit);
        restoreRegistered = true;
    }
}

bool PlatKeyWaiting() {
    if (inputEnded) return false;
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
    if (!modeSaved) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
    modeSaved = false;
}
