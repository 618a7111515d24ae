// A writer logging into a fresh folder, its settings, and checks of the records in a log file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "control/log_settings.h"
#include "output/debug_ui.h"
#include "support/files.h"

namespace testing_support {

/// Settings for a writer whose log folder is `folder`.
LogSettings MakeSettings(const std::string& folder, int32_t logFileSize = kDefaultLogFileSize,
                         int32_t retentionDays = kDefaultRetentionDays);

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

    TempDir folder;
    LogSettings settings{};
    CDebugUI writer;
    std::string out;
    std::string err;
};

}  // namespace testing_support
