// A writer logging into a fresh folder, its settings, and checks of the records in a log file.
#include "support/writer.h"

#include <cstdio>

#include "support/capture.h"

namespace testing_support {

LogSettings MakeSettings(const std::string& folder, int32_t logFileSize, int32_t retentionDays) {
    LogSettings settings{};
    settings.port = 0;
    snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", folder.c_str());
    settings.logFileSize = logFileSize;
    settings.retentionDays = retentionDays;
    return settings;
}

void WriterTest::Bind(const std::string& logFolder) {
    settings = MakeSettings(logFolder);
    OutputCapture quiet;
    writer.Init(settings);
}

void WriterTest::Line(const std::string& text) {
    OutputCapture capture;
    writer.LogLine(7, text.c_str());
    writer.HandOnBatch();
    capture.Stop();
    out += capture.Out();
    err += capture.Err();
}

std::string WriterTest::LogPath() {
    const std::vector<std::string> names = LogFileNames(folder.Path());
    EXPECT_EQ(names.size(), 1u) << "log files in the folder";
    return names.size() == 1 ? folder.File(names[0]) : "";
}

std::string WriterTest::LogContent() {
    const std::string path = LogPath();
    return path.empty() ? "" : ReadFile(path);
}

}  // namespace testing_support
