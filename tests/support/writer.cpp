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

static bool IsPrefix(const std::string& content, size_t at) {
    if (content.size() < at + 8) return false;
    for (size_t i = 0; i < 6; ++i) {
        if (content[at + i] < '0' || content[at + i] > '9') return false;
    }
    return content[at + 6] == ':' && content[at + 7] == ' ';
}

::testing::AssertionResult MatchRecords(const std::string& content,
                                        const std::vector<std::string>& texts) {
    size_t at = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!IsPrefix(content, at)) {
            return ::testing::AssertionFailure()
                   << "record " << i << " has no time prefix at byte " << at;
        }
        at += 8;
        if (content.compare(at, texts[i].size(), texts[i]) != 0) {
            return ::testing::AssertionFailure()
                   << "record " << i << " differs: expected \"" << texts[i] << "\", found \""
                   << content.substr(at, texts[i].size() + 8) << "\"";
        }
        at += texts[i].size();
    }
    if (at != content.size()) {
        return ::testing::AssertionFailure()
               << "unexpected bytes after the last record: \"" << content.substr(at, 80) << "\"";
    }
    return ::testing::AssertionSuccess();
}

void WriterTest::Bind(const std::string& logFolder) {
    settings = MakeSettings(logFolder);
    OutputCapture quiet;
    writer.Init(settings);
}

void WriterTest::Line(const std::string& text) {
    OutputCapture capture;
    writer.LogLine(7, text.c_str());
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
