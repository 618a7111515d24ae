// Signal service: interrupt, terminate and hang-up requests end the run like the quit key.
#pragma once

/// Installs the handlers: interrupt, terminate and hang-up are recorded; a broken pipe is ignored.
void PlatInstallStopSignals();

/// True once a stop signal has arrived.
bool PlatStopSignalled();
