// --compress: closed log files gzipped by a thread of their own at the lowest priority, never on
// the path of the lines. Crash-safe: a file is written to a temporary name, flushed, renamed, and
// only then is the original deleted. Start, stop and the hand-over are for the main thread.
#pragma once

#include <atomic>

/// Readies the log folder `folder` for the compressing thread: removes what a run that stopped
/// part-way left (udplog*.log.gz.tmp) and queues every udplog*.log in it, oldest name first. Call
/// it before the first log file of the run is opened.
void QueueLeftoverLogFiles(const char* folder);

/// Starts the compressing thread on the queue; false when it could not be started.
bool StartCompressor();

/// Queues the closed log file at `path` for compression.
void CompressLater(const char* path);

/// Gives the thread up to `timeoutMs` to finish its queue, then stops it; a file it is still
/// working on is left as it was (the next start compresses it).
void StopCompressor(int timeoutMs);

/// Compresses the file at `path` into `path`.gz by way of `path`.gz.tmp (flushed, then renamed;
/// the original is deleted last) with the original's modification time. Gives up, removing the
/// temporary file, when `stop` becomes true or the original vanishes. True when done.
bool GzipFile(const char* path, const std::atomic<bool>* stop = nullptr);
