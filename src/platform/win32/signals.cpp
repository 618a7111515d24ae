// Signal service on Windows: Ctrl+C, Ctrl+Break and closing the console window end the run like
// the quit key.
#include "platform/signals.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<bool> stopSignalled{false};

// How long a close, log-off or shut-down request holds the process open for the main loop's
// orderly shutdown; the system ends the process once the handler returns (and after about five
// seconds in any case), while a finished main routine ends it sooner.
constexpr DWORD kCloseGraceMs = 4000;

BOOL WINAPI ConsoleControlHandler(DWORD controlType) {
    switch (controlType) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            stopSignalled.store(true);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            stopSignalled.store(true);
            Sleep(kCloseGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void PlatInstallStopSignals() {
    // A reader that went away makes a write fail with an error code; there is no signal to ignore.
    SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
}

bool PlatStopSignalled() { return stopSignalled.load(); }

// Windows has no signal for it; the statistics are written on the way out only.
bool PlatStatisticsRequested() { return false; }
