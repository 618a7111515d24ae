// A writer logging into a fresh folder with standard output on /dev/null, for tests that drive
// many lines through it.
#pragma once

#include <string>

#include "control/log_settings.h"
#include "output/debug_ui.h"
#include "support/files.h"

namespace testing_support {

/// Standard output to /dev/null and a fresh log folder for the writer, undone afterwards.
class QuietWriter {
public:
    QuietWriter();
    ~QuietWriter();
    QuietWriter(const QuietWriter&) = delete;
    QuietWriter& operator=(const QuietWriter&) = delete;

    /// Every record in the log folder, concatenated.
    std::string Logged() const { return ReadLogs(folder.Path()); }

    TempDir folder;  // first: the settings name it
    LogSettings settings;
    CDebugUI writer;

private:
    int savedStdout;
};

}  // namespace testing_support
