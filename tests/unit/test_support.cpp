// Shared helpers of the unit tests: temporary folders, console capture, polling and a clean intake.
#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "intake/packet_queue.h"
#include "intake/receiver.h"

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

static int MakeCaptureFile() {
    char pattern[] = "/tmp/udptrail_capture_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        perror("mkstemp");
        abort();
    }
    unlink(pattern);
    return fd;
}

static std::string ReadWhole(int fd) {
    std::string text;
    char block[4096];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got <= 0) break;
        text.append(block, static_cast<size_t>(got));
    }
    return text;
}

OutputCapture::OutputCapture() {
    fflush(stdout);
    fflush(stderr);
    outFd = MakeCaptureFile();
    errFd = MakeCaptureFile();
    savedOut = dup(STDOUT_FILENO);
    savedErr = dup(STDERR_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    running = true;
}

void OutputCapture::Stop() {
    if (!running) return;
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    out = ReadWhole(outFd);
    err = ReadWhole(errFd);
    close(outFd);
    close(errFd);
    running = false;
}

OutputCapture::~OutputCapture() { Stop(); }

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
    for (QueueEntry& slot : packetQueue.slots) slot.length = 0;
    packetQueue.readIndex.store(0);
    packetQueue.writeIndex.store(0);
    intakeState.queueFull.store(0);
    intakeState.stopRequested.store(0);
    intakeState.pollIntervalMs.store(kNormalPollIntervalMs);
    intakeState.receiverThread = nullptr;
    if (!CreatePacketQueue()) abort();
    if (withEvent) intakeState.dataEvent = PlatEventCreate();
}

LogSettings MakeSettings(const std::string& folder, int32_t logFileSize, int32_t retentionDays) {
    LogSettings settings{};
    settings.port = 0;
    snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", folder.c_str());
    settings.logFileSize = logFileSize;
    settings.retentionDays = retentionDays;
    return settings;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LogFileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() >= 11 && name.rfind("udplog_", 0) == 0 &&
            name.compare(name.size() - 4, 4, ".log") == 0) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
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

void WriteAgedFile(const std::string& path, const std::string& content, std::time_t when) {
    std::ofstream(path, std::ios::binary) << content;
    AgeFile(path, when);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::string OnlyLogFile(const std::string& folder, size_t* count) {
    const std::vector<std::string> names = LogFileNames(folder);
    *count = names.size();
    if (names.size() != 1) return "";
    return ReadFile(folder + "/" + names[0]);
}

static bool IsPrefix(const std::string& content, size_t at) {
    if (content.size() < at + 8) return false;
    for (size_t i = 0; i < 6; ++i) {
        if (content[at + i] < '0' || content[at + i] > '9') return false;
    }
    return content[at + 6] == ':' && content[at + 7] == ' ';
}

bool MatchRecords(const std::string& content, const std::vector<std::string>& texts, std::string* why) {
    size_t at = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!IsPrefix(content, at)) {
            *why = "record " + std::to_string(i) + " has no time prefix at byte " + std::to_string(at);
            return false;
        }
        at += 8;
        if (content.compare(at, texts[i].size(), texts[i]) != 0) {
            *why = "record " + std::to_string(i) + " differs: expected \"" + texts[i] + "\", found \"" +
                   content.substr(at, texts[i].size() + 8) + "\"";
            return false;
        }
        at += texts[i].size();
    }
    if (at != content.size()) {
        *why = "unexpected bytes after the last record: \"" + content.substr(at, 80) + "\"";
        return false;
    }
    return true;
}

}  // namespace testing_support
