// Shared helpers of the unit tests: temporary folders, console capture, polling, a clean intake,
// a writer logging into a fresh folder, and checks of the records in a log file.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "control/log_settings.h"
#include "output/debug_ui.h"

namespace testing_support {

/// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

/// Sends everything written to file descriptors 1 and 2 (printf, fprintf(stderr), raw writes) into
/// temporary files until Stop; the captured bytes are then in Out() and Err(). Keep assertions
/// outside the captured span: a failure message printed inside it would be captured too.
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    void Stop();
    const std::string& Out() const { return out; }
    const std::string& Err() const { return err; }

private:
    int savedOut = -1;
    int savedErr = -1;
    int outFd = -1;
    int errFd = -1;
    bool running = false;
    std::string out;
    std::string err;
};

/// Polls `condition` every millisecond until it holds or `timeoutMs` has passed; true if it held.
/// The time-outs are generous on purpose: the tests run on slow, shared machines.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/// Puts the ring and the intake state back to their start-of-run values and allocates the ring;
/// creates a data event when `withEvent` is set.
void ResetIntake(bool withEvent = true);

/// Releases the ring and the event and stops a receiver still running.
void ReleaseIntake();

/// Waits up to `timeoutMs` for a queued chunk and takes it, without touching the pressure state
/// (an empty pop would end a congested state the test set up); "<none>" if none came.
std::string TakeChunk(int timeoutMs = 0);

/// The receiver's queued messages, taken and formatted as the console shows them.
std::string TakeIntakeMessages();

/// Settings for a writer whose log folder is `folder`.
LogSettings MakeSettings(const std::string& folder, int32_t logFileSize = kDefaultLogFileSize,
                         int32_t retentionDays = kDefaultRetentionDays);

/// The whole content of a file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

/// Names of the entries of `folder` that start with "udplog_" and end with ".log", sorted.
std::vector<std::string> LogFileNames(const std::string& folder);

/// Creates `path` with `content` and sets its modification (and access) time to `when`.
void WriteAgedFile(const std::string& path, const std::string& content, std::time_t when);

/// Sets the modification and access time of `path` to `when`.
void AgeFile(const std::string& path, std::time_t when);

bool Exists(const std::string& path);

/// Checks that `content` is exactly one record per text: a "HHMMSS: " prefix with six digits, then
/// the text; the failure says where it went wrong.
::testing::AssertionResult MatchRecords(const std::string& content,
                                        const std::vector<std::string>& texts);

/// Each test starts with a clean intake and releases it at the end.
class IntakeTest : public ::testing::Test {
protected:
    void SetUp() override { ResetIntake(); }
    void TearDown() override { ReleaseIntake(); }
};

/// A writer logging into a fresh folder with the default settings.
class WriterTest : public ::testing::Test {
protected:
    void SetUp() override { Bind(folder.Path()); }

    /// Initialises the writer for `logFolder`, its console captured (a clear-screen stays away
    /// from a developer's terminal).
    void Bind(const std::string& logFolder);

    /// Writes one line with the normal colour; what the console showed is added to out and err.
    void Line(const std::string& text);

    /// The path of the one log file in the folder, or "" (and a failure) unless there is one.
    std::string LogPath();

    /// The content of the one log file in the folder, or "" (and a failure) unless there is one.
    std::string LogContent();

    TempFolder folder;
    LogSettings settings{};
    CDebugUI writer;
    std::string out;
    std::string err;
};

}  // namespace testing_support
