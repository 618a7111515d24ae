// The file helpers that need no operating-system service; the rest are in posix/files.cpp and, for
// the Windows build, win32/files.cpp.
#include "support/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace testing_support {

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

}  // namespace testing_support
