// The unit tests' shared helpers built on POSIX services: temporary folders, console capture, file
// times.
#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
