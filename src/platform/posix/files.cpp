// Files on POSIX: log files opened safely, current directory, log folder listing, deletion, file
// identity.
#include "platform/files.h"

#include <dirent.h>
#include <limits.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Nanoseconds since 1970, held at the ends of the 64-bit range for times more than about 292
// years away from it.
int64_t ToNanoseconds(const timespec& time) {
    const int64_t limit = INT64_MAX / 1000000000 - 1;
    if (time.tv_sec > limit) return INT64_MAX;
    if (time.tv_sec < -limit) return INT64_MIN;
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool EndsWith(const char* name, size_t length, const char* end) {
    size_t endLength = strlen(end);
    return length >= endLength && strcmp(name + length - endLength, end) == 0;
}

// udplog*.log, and the other kinds asked for; "udplog" and the ending do not overlap.
bool IsLogFileName(const char* name, int kinds) {
    size_t length = strlen(name);
    if (strncmp(name, "udplog", 6) != 0) return false;
    return ((kinds & kPlatLogPlain) && length >= 10 && EndsWith(name, length, ".log")) ||
           ((kinds & kPlatLogCompressed) && length >= 13 && EndsWith(name, length, ".log.gz")) ||
           ((kinds & kPlatLogPartial) && length >= 17 && EndsWith(name, length, ".log.gz.tmp"));
}

}  // namespace

bool PlatCurrentDirectory(char* out, size_t room) {
    if (room == 0) return false;
    if (getcwd(out, room) == nullptr) {
        out[0] = '\0';
        return false;
    }
    return true;
}

const char* PlatFallbackLogFolder() { return "/tmp"; }

bool PlatPrepareFolder(const char* folder, int* errorCode) {
    char path[PATH_MAX];
    size_t length = strlen(folder);
    if (length == 0 || length >= sizeof path) {
        *errorCode = length == 0 ? ENOENT : ENAMETOOLONG;
        return false;
    }
    memcpy(path, folder, length + 1);
    // Each parent in turn, then the folder itself. A step may fail where the folder is there all
    // the same (a parent that exists in a folder one may not write); the first failure tells why
    // only when the folder is missing at the end.
    int firstError = 0;
    for (size_t end = 1; end <= length; ++end) {
        if (end < length && (path[end] != '/' || path[end - 1] == '/')) continue;
        char kept = path[end];
        path[end] = '\0';
        if (mkdir(path, 0755) != 0 && errno != EEXIST && firstError == 0) firstError = errno;
        path[end] = kept;
    }
    struct stat status;
    if (stat(folder, &status) != 0) {
        *errorCode = firstError != 0 ? firstError : errno;
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        *errorCode = ENOTDIR;
        return false;
    }
    if (access(folder, W_OK | X_OK) != 0) {
        *errorCode = errno;
        return false;
    }
    return true;
}

bool PlatFileIdOfStream(FILE* stream, PlatFileId* id) {
    struct stat info;
    if (stream == nullptr || fstat(fileno(stream), &info) != 0) return false;
    id->device = static_cast<uint64_t>(info.st_dev);
    id->inode = static_cast<uint64_t>(info.st_ino);
    return true;
}

bool PlatStreamFileRemoved(FILE* stream) {
    struct stat info;
    return stream != nullptr && fstat(fileno(stream), &info) == 0 && info.st_nlink == 0;
}

bool PlatListLogFiles(const char* folder, PlatLogFileVisitor visitor, void* context, int kinds) {
    DIR* directory = opendir(folder);
    if (directory == nullptr) return false;
    int folderFd = dirfd(directory);
    while (dirent* entry = readdir(directory)) {
        if (!IsLogFileName(entry->d_name, kinds)) continue;
        struct stat info;
        if (fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(info.st_mode)) continue;
        PlatLogFileEntry found;
        found.name = entry->d_name;
        found.modifiedNanoseconds = ToNanoseconds(info.st_mtim);
        found.id.device = static_cast<uint64_t>(info.st_dev);
        found.id.inode = static_cast<uint64_t>(info.st_ino);
        found.sizeBytes = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
        visitor(found, context);
    }
    closedir(directory);
    return true;
}

bool PlatDeleteFile(const char* path) { return unlink(path) == 0; }

bool PlatFreeDiskSpace(const char* folder, uint64_t* bytes) {
    struct statvfs info;
    if (statvfs(folder, &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
    return true;
}

bool PlatIsNoSpaceError(int errorCode) { return errorCode == ENOSPC || errorCode == EDQUOT; }

bool PlatRenameFile(const char* from, const char* to) { return rename(from, to) == 0; }

bool PlatCopyModificationTime(const char* from, const char* to) {
    struct stat info;
    if (stat(from, &info) != 0) return false;
    timespec times[2] = {info.st_atim, info.st_mtim};
    return utimensat(AT_FDCWD, to, times, 0) == 0;
}

bool PlatFlushToDisk(FILE* stream) {
    if (fflush(stream) != 0) return false;
    int result;
    do {
        result = fsync(fileno(stream));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

int64_t PlatFolderChangeStamp(const char* folder) {
    struct stat info;
    if (stat(folder, &info) != 0) return -1;
    return ToNanoseconds(info.st_mtim);
}

FILE* PlatOpenLogFile(const char* path, int* errorCode) {
    // The log folder may be shared and writable by others (the fallback is /tmp): a symbolic link
    // planted under the next name must not make the server append to a file of someone's choosing,
    // and a FIFO must not stop it in open() for good. Nothing but a regular file is written to.
    int fd;
    do {
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *errorCode = errno;
        return nullptr;
    }
    struct stat info;
    int statResult = fstat(fd, &info);
    if (statResult != 0 || !S_ISREG(info.st_mode)) {
        // Anything but a regular file is reported as the system reports a FIFO without a reader.
        *errorCode = statResult != 0 ? errno : ENXIO;
        close(fd);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    FILE* stream = nullptr;
    if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) stream = fdopen(fd, "a");
    if (stream == nullptr) {
        *errorCode = errno;
        close(fd);
        return nullptr;
    }
    // Records are written whole and at once; the stream keeps no buffer of its own.
    setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

bool PlatAppendRecord(FILE* stream, const char* data, size_t length, int* errorCode) {
    uint32_t end = static_cast<uint32_t>(length);
    return PlatAppendRecords(stream, data, &end, 1, errorCode) == 1;
}

int PlatAppendRecords(FILE* stream, const char* data, const uint32_t* ends, int count,
                      int* errorCode) {
    int fd = fileno(stream);
    size_t length = count > 0 ? ends[count - 1] : 0;
    size_t written = 0;
    while (written < length) {
        ssize_t n = write(fd, data + written, length - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (errorCode != nullptr) *errorCode = n < 0 ? errno : ENOSPC;  // took nothing: no room
        break;
    }
    int kept = 0;
    while (kept < count && ends[kept] <= written) ++kept;
    // The part of a record the file took is taken back, so that no half record is left to be
    // glued to the next one.
    size_t torn = written - (kept > 0 ? ends[kept - 1] : 0);
    if (torn > 0) {
        off_t end = lseek(fd, 0, SEEK_END);
        if (end >= static_cast<off_t>(torn)) {
            while (ftruncate(fd, end - static_cast<off_t>(torn)) != 0 && errno == EINTR) {
            }
        }
    }
    return kept;
}
