// Signals on POSIX: interrupt, terminate, hang-up and quit ask for the orderly stop; broken pipes
// are ignored so a console reader that went away cannot end the logging, and so is a file-size
// limit, which then fails the write instead. The terminal's mode is put back before a stop
// (Ctrl+Z) and set up again after it, and a crash puts it back before the process dies the way it
// would have died anyway.
#include "platform/signals.h"

#include <errno.h>
#include <signal.h>
#include <string.h>

#include <atomic>

#include "platform/posix/terminal_state.h"

namespace {

// A handler may run on any thread, so the flags are lock-free atomics (safe in a handler), not
// plain volatile ones, which other threads could not read without a race.
std::atomic<int> stopSignalled{0};
std::atomic<int> hungUp{0};

std::atomic<int> statisticsRequested{0};

void OnStopSignal(int signalNumber) {
    if (signalNumber == SIGHUP) hungUp = 1;
    stopSignalled = 1;
}

void Install(int signalNumber, void (*handler)(int), int flags) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

// Installed with SA_RESETHAND and SA_NODEFER: the action is the default one again when this runs,
// so raising the signal once more ends the process as it would have ended without the handler (a
// fault that returned here would strike again the same way).
void OnCrashSignal(int signalNumber) {
    TerminalLeaveKeyMode();
    raise(signalNumber);
}

// Ctrl+Z: the terminal gets its mode back, the process stops as it would have stopped, and once it
// is continued the handler is put back and, in the foreground, the key mode set up again.
void OnSuspendSignal(int) {
    int savedErrno = errno;
    TerminalSuspending(true);
    TerminalLeaveKeyMode();
    Install(SIGTSTP, SIG_DFL, 0);
    raise(SIGTSTP);
    Install(SIGTSTP, OnSuspendSignal, SA_RESTART | SA_NODEFER);
    TerminalSuspending(false);
    TerminalEnterKeyMode();
    errno = savedErrno;
}

// Continued after a stop of any kind (`fg`, `bg`, SIGCONT): the key mode again, if in the
// foreground (the shell may have reset the terminal while the process was stopped).
void OnContinueSignal(int) {
    int savedErrno = errno;
    TerminalEnterKeyMode();
    errno = savedErrno;
}

void OnStatisticsSignal(int) { statisticsRequested = 1; }

}  // namespace

bool TerminalHungUp() { return hungUp != 0; }

void PlatInstallStopSignals() {
    static const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    static const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL};
    for (int signalNumber : kStopSignals) Install(signalNumber, OnStopSignal, 0);
    for (int signalNumber : kCrashSignals) Install(signalNumber, OnCrashSignal, SA_RESETHAND | SA_NODEFER);
    Install(SIGTSTP, OnSuspendSignal, SA_RESTART | SA_NODEFER);
    Install(SIGCONT, OnContinueSignal, SA_RESTART);
    Install(SIGUSR1, OnStatisticsSignal, SA_RESTART);
    signal(SIGPIPE, SIG_IGN);
    // A file-size limit (ulimit -f) makes the write fail with EFBIG instead, which the writer
    // handles like a full disk.
    signal(SIGXFSZ, SIG_IGN);
}

bool PlatStopSignalled() { return stopSignalled != 0; }

bool PlatStatisticsRequested() { return statisticsRequested.exchange(0) != 0; }
