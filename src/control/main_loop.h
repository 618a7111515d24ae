// The entry routine: start-up, socket and intake set-up, the main loop and shutdown.
#pragma once

/// Runs the whole program; returns the process exit code.
int RunUdpTrail(int argc, char** argv);
