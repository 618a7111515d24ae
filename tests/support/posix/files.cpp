// The file helpers built on POSIX services: temporary folders (with tmpfs mounts), whole files and
// file times.
#include "support/files.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/expected_text.h"
#include "support/wait.h"

namespace testing_support {

TempFolder::TempFolder() {
    char pattern[] = "/tmp/udptrail_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        perror("mkdtemp");
        abort();
    }
    path = made;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // A test may have left a folder without write permission behind; give it back first.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void AgeFile(const std::string& path, std::time_t when) {
    utimbuf times{};
    times.actime = when;
    times.modtime = when;
    if (utime(path.c_str(), &times) != 0) {
        perror("utime");
        abort();
    }
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace testing_support

namespace e2e {

TempDir::TempDir() {
    char pattern[] = "/tmp/udptrail-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    path = pattern;
}

TempDir::~TempDir() {
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    if (path.empty()) return;
    std::error_code error;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path, error);
}

bool TempDir::MountTmpfs(const std::string& dir, long sizeBytes, bool readOnly) {
    mkdir(dir.c_str(), 0755);
    std::string data = "size=" + std::to_string(sizeBytes) + ",mode=0755";
    if (mount("tmpfs", dir.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, data.c_str()) != 0) {
        return false;
    }
    mounts.push_back(dir);
    return true;
}

bool TempDir::Remount(const std::string& dir, bool readOnly) {
    unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return mount("tmpfs", dir.c_str(), "tmpfs", flags, nullptr) == 0;
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

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
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


}  // namespace e2e
