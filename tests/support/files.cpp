// The file helpers that need no operating-system service; the rest are in posix/files.cpp and, for
// the Windows build, win32/files.cpp.
#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/expected_text.h"
#include "support/wait.h"

namespace testing_support {

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

void WriteAgedFile(const std::string& path, const std::string& content, std::time_t when) {
    WriteFile(path, content);
    AgeFile(path, when);
}

std::vector<std::string> LogFileNames(const std::string& dir) {
    static const std::regex name("udplog_[0-9]{14}\\.log");
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        std::string file = entry.path().filename().string();
        if (std::regex_match(file, name)) names.push_back(file);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadLogs(const std::string& dir) {
    std::string all;
    for (const auto& name : LogFileNames(dir)) all += ReadFile(dir + "/" + name);
    return all;
}

bool WaitForLogs(const std::string& dir, const std::string& text, double seconds) {
    auto found = [&] { return ReadLogs(dir).find(text) != std::string::npos; };
    if (WaitUntil(found, seconds)) return true;
    ADD_FAILURE() << "the log files never held \"" << Printable(text) << "\" within " << seconds
                  << " s; they hold:\n"
                  << Printable(ReadLogs(dir));
    return false;
}

}  // namespace testing_support
