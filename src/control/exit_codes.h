// The process's exit codes, as --help, the README and the manual page list them.
#pragma once

constexpr int kExitQuit = 0;            // quit by q or a signal; help, version or usage text
constexpr int kExitCouldNotStart = 1;   // the socket or the log folder could not be set up
constexpr int kExitBadArgument = 2;     // a bad argument, option or option value
constexpr int kExitNoResources = 255;   // memory or a thread could not be had (-1 to the shell)
