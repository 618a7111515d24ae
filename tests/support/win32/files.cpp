// The file helpers built on Windows services: temporary folders, whole files and file times; the
// rest are shared with Linux in support/files.cpp.
#include "support/files.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/win32/temp_name.h"

namespace testing_support {

TempDir::TempDir() {
    path = UniqueTempName("udptrail_test_");
    if (!CreateDirectoryA(path.c_str(), nullptr)) {
        fprintf(stderr, "CreateDirectoryA(%s) failed: %lu\n", path.c_str(), GetLastError());
        abort();
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// Windows has no tmpfs to mount.
bool TempDir::MountTmpfs(const std::string&, long, bool) { return false; }

bool TempDir::Remount(const std::string&, bool) { return false; }

// Read as the text file it is; the bytes on disk are checked by the Windows backend's own tests.
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

