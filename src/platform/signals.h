// Signal service: interrupt, terminate, hang-up and quit requests end the run like the quit key;
// stops, continues and crashes leave the terminal as it should be.
#pragma once

/// Installs the handlers: interrupt, terminate, hang-up and quit are recorded, and so is a request
/// for the statistics; a broken pipe and a file-size limit (POSIX) are ignored. Where the
/// terminal's mode is changed for keys (POSIX), it is put back before a stop (Ctrl+Z) and set up
/// again after it, and put back before a crash signal ends the process.
void PlatInstallStopSignals();

/// True once a stop signal has arrived.
bool PlatStopSignalled();

/// True when the statistics were asked for (SIGUSR1) since the last call; the request is consumed.
/// Never on Windows, which has no such signal.
bool PlatStatisticsRequested();
