// Readers of a process's statistics in /proc.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

/// CPU time (user + system) the process has used, in seconds; -1 if unknown.
double ProcessCpuSeconds(pid_t pid);

/// True when the process has a handler installed for `signalNumber`.
bool ProcessCatchesSignal(pid_t pid, int signalNumber);

/// Resident set size of the process in KiB; -1 if unknown.
long ProcessRssKb(pid_t pid);

/// What each thread of the process is doing and which signals are pending, for a failure message.
std::string DescribeProcess(pid_t pid);

}  // namespace testing_support
