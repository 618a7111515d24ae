// Signals on POSIX: interrupt, terminate and hang-up ask for the orderly stop; broken pipes are
// ignored so a console reader that went away cannot end the logging.
#include "platform/signals.h"

#include <signal.h>
#include <string.h>

namespace {

volatile sig_atomic_t stopSignalled = 0;

volatile sig_atomic_t statisticsRequested = 0;

void OnStopSignal(int) { stopSignalled = 1; }

void OnStatisticsSignal(int) { statisticsRequested = 1; }

}  // namespace

void PlatInstallStopSignals() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    action.sa_handler = OnStatisticsSignal;
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

bool PlatStopSignalled() { return stopSignalled != 0; }

bool PlatStatisticsRequested() {
    if (statisticsRequested == 0) return false;
    statisticsRequested = 0;
    return true;
}
