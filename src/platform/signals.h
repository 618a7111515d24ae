// Signal service: interrupt, terminate and hang-up requests end the run like the quit key.
#pragma once

/// Installs the handlers: interrupt, terminate and hang-up are recorded, and so is a request for
/// the statistics; a broken pipe is ignored.
void PlatInstallStopSignals();

/// True once a stop signal has arrived.
bool PlatStopSignalled();

/// True when the statistics were asked for (SIGUSR1) since the last call; the request is consumed.
/// Never on Windows, which has no such signal.
bool PlatStatisticsRequested();
