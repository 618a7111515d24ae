// The unit tests' shared helpers built on Windows services: temporary folders, console capture,
// file times; the rest are shared with Linux in unit/test_support.cpp.
#include "unit/test_support.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

namespace {

std::string UniqueTempName(const char* stem) {
    static int counter = 0;
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) abort();
    // Forward slashes, which Windows takes as well, so that paths read the same as on Linux in
    // the tests' expected messages and patterns.
    std::string name = std::string(base) + stem + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(GetTickCount64()) + "_" + std::to_string(++counter);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// A file that the system deletes once its last descriptor is closed.
int MakeCaptureFile() {
    std::string name = UniqueTempName("udptrail_capture_");
    int fd = _open(name.c_str(), _O_RDWR | _O_BINARY | _O_CREAT | _O_EXCL | _O_TEMPORARY, 0600);
    if (fd < 0) {
        perror("_open");
        abort();
    }
    return fd;
}

std::string ReadWhole(int fd) {
    std::string text;
    char block[4096];
    _lseek(fd, 0, SEEK_SET);
    for (;;) {
        int got = _read(fd, block, sizeof block);
        if (got <= 0) break;
        text.append(block, static_cast<size_t>(got));
    }
    return text;
}

}  // namespace

TempFolder::TempFolder() {
    path = UniqueTempName("udptrail_test_");
    if (!CreateDirectoryA(path.c_str(), nullptr)) {
        fprintf(stderr, "CreateDirectoryA(%s) failed: %lu\n", path.c_str(), GetLastError());
        abort();
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// Descriptors 1 and 2 are pointed at binary files, so the capture holds the bytes as written,
// without the CR that text mode would add before each line feed.
OutputCapture::OutputCapture() {
    fflush(stdout);
    fflush(stderr);
    outFd = MakeCaptureFile();
    errFd = MakeCaptureFile();
    savedOut = _dup(1);
    savedErr = _dup(2);
    _dup2(outFd, 1);
    _dup2(errFd, 2);
    running = true;
}

void OutputCapture::Stop() {
    if (!running) return;
    fflush(stdout);
    fflush(stderr);
    _dup2(savedOut, 1);
    _dup2(savedErr, 2);
    _close(savedOut);
    _close(savedErr);
    out = ReadWhole(outFd);
    err = ReadWhole(errFd);
    _close(outFd);
    _close(errFd);
    running = false;
}

OutputCapture::~OutputCapture() { Stop(); }

// Read as the text file it is: the CR LF that a log file stores for each line feed reads as LF, so
// contents compare as on Linux. The bytes on disk are checked by the Windows backend's own tests.
std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void AgeFile(const std::string& path, std::time_t when) {
    // Seconds since 1970 to 100-ns intervals since 1601.
    long long ticks = static_cast<long long>(when) * 10000000LL + 116444736000000000LL;
    FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32)};
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    bool set = file != INVALID_HANDLE_VALUE && ticks >= 0 && SetFileTime(file, &time, &time, &time);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!set) {
        fprintf(stderr, "cannot set the times of %s\n", path.c_str());
        abort();
    }
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace testing_support
