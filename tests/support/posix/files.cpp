// The file helpers built on POSIX services: temporary folders (with tmpfs mounts), whole files and
// file times.
#include "support/files.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

TempDir::TempDir() {
    char pattern[] = "/tmp/udptrail_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        perror("mkdtemp");
        abort();
    }
    path = made;
}

TempDir::~TempDir() {
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    std::error_code ignored;
    // A test may have left a folder without write permission behind; give it back first.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
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
