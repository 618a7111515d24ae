// Shared helpers of the unit tests that need no operating-system service; the rest are in
// test_support_posix.cpp and, for the Windows build, test_support_win32.cpp.
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "intake/intake_messages.h"
#include "intake/packet_queue.h"
#include "intake/receiver.h"

namespace testing_support {

void ReleaseIntake() {
    if (intakeState.receiverThread != nullptr) StopReceiver();
    FreePacketQueue();
    if (intakeState.dataEvent != nullptr) {
        PlatEventClose(intakeState.dataEvent);
        intakeState.dataEvent = nullptr;
    }
}

void ResetIntake(bool withEvent) {
    ReleaseIntake();
    ResetIntakeState();
    if (!CreatePacketQueue()) abort();
    if (withEvent) intakeState.dataEvent = PlatEventCreate();
}

std::string TakeIntakeMessages() {
    std::string texts;
    IntakeMessage message;
    char text[256];
    while (TakeIntakeMessage(&message)) texts.append(text, FormatIntakeMessage(message, text, sizeof text));
    return texts;
}

std::string TakeChunk(int timeoutMs) {
    if (!WaitFor([] { return NextPacketLength() >= 0; }, timeoutMs)) return "<none>";
    char buffer[kQueueEntrySize];
    int length = 0;
    if (!PopPacket(buffer, kQueueEntrySize, &length)) return "<empty entry>";
    return std::string(buffer, static_cast<size_t>(length));
}

LogSettings MakeSettings(const std::string& folder, int32_t logFileSize, int32_t retentionDays) {
    LogSettings settings{};
    settings.port = 0;
    snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", folder.c_str());
    settings.logFileSize = logFileSize;
    settings.retentionDays = retentionDays;
    return settings;
}

std::vector<std::string> LogFileNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= 11 && name.rfind("udplog_", 0) == 0 &&
            name.compare(name.size() - 4, 4, ".log") == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteAgedFile(const std::string& path, const std::string& content, std::time_t when) {
    std::ofstream(path, std::ios::binary) << content;
    AgeFile(path, when);
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
