// File service on Windows: log files opened for appending, the current directory, a FindFirstFileA search of the log folder,
// DeleteFileA, the identity of an open file (volume serial number and file index), and records
// appended in text mode.
#include "platform/files.h"

#include <direct.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/win32/file_time.h"

namespace {

// Room for the search pattern: the folder (at most 255 characters), a separator and the pattern.
constexpr size_t kPathRoom = MAX_PATH + 16;

bool IdOfHandle(HANDLE handle, PlatFileId* id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    id->device = info.dwVolumeSerialNumber;
    id->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool EqualsIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

bool EndsWith(const char* name, size_t length, const char* end) {
    size_t endLength = strlen(end);
    return length >= endLength && EqualsIgnoringCase(name + length - endLength, end, endLength);
}

// The search pattern also matches through 8.3 short names (udplog_1.logx is UDPLOG~1.LOG), so
// each long name is checked again: udplog*.log (and the other kinds asked for), without regard to
// case as the file system does.
bool IsLogFileName(const char* name, int kinds) {
    size_t length = strlen(name);
    if (!EqualsIgnoringCase(name, "udplog", 6)) return false;
    return ((kinds & kPlatLogPlain) && length >= 10 && EndsWith(name, length, ".log")) ||
           ((kinds & kPlatLogCompressed) && length >= 13 && EndsWith(name, length, ".log.gz")) ||
           ((kinds & kPlatLogPartial) && length >= 17 && EndsWith(name, length, ".log.gz.tmp"));
}

}  // namespace

bool PlatCurrentDirectory(char* out, size_t room) {
    if (room == 0) return false;
    DWORD limit = room > MAXDWORD ? MAXDWORD : static_cast<DWORD>(room);
    // Answers the length without the terminator when it fits, the room needed when it does not,
    // and 0 on failure.
    DWORD length = GetCurrentDirectoryA(limit, out);
    return length > 0 && length < limit;
}

const char* PlatFallbackLogFolder() { return "c:\\temp"; }

bool PlatPrepareFolder(const char* folder, int* errorCode) {
    char path[kPathRoom];
    size_t length = strlen(folder);
    if (length == 0 || length >= sizeof path) {
        *errorCode = length == 0 ? ENOENT : ENAMETOOLONG;
        return false;
    }
    memcpy(path, folder, length + 1);
    // Each parent in turn, then the folder itself; a drive ("c:") or the start of a network path
    // (\\server) is no folder to make. The first failure tells why only when the folder is
    // missing at the end.
    int firstError = 0;
    for (size_t end = 1; end <= length; ++end) {
        bool separator = path[end] == '/' || path[end] == '\\';
        bool afterSeparator = path[end - 1] == '/' || path[end - 1] == '\\';
        if (end < length && (!separator || afterSeparator || path[end - 1] == ':')) continue;
        char kept = path[end];
        path[end] = '\0';
        if (_mkdir(path) != 0 && errno != EEXIST && firstError == 0) firstError = errno;
        path[end] = kept;
    }
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *errorCode = firstError != 0 ? firstError : ENOENT;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *errorCode = ENOTDIR;
        return false;
    }
    if (_access(folder, 2) != 0) {
        *errorCode = errno;
        return false;
    }
    return true;
}

bool PlatFileIdOfStream(FILE* stream, PlatFileId* id) {
    if (stream == nullptr) return false;
    intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) return false;
    return IdOfHandle(reinterpret_cast<HANDLE>(handle), id);
}

bool PlatStreamFileRemoved(FILE* stream) {
    // The system refuses to delete a file that the C runtime holds open, and a folder holding it,
    // but a file can still be marked for deletion (or unlinked by a POSIX layer below Wine).
    if (stream == nullptr) return false;
    intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1) return false;
    FILE_STANDARD_INFO info;
    if (!GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(handle), FileStandardInfo, &info,
                                      sizeof info)) {
        return false;
    }
    return info.DeletePending || info.NumberOfLinks == 0;
}

bool PlatListLogFiles(const char* folder, PlatLogFileVisitor visitor, void* context, int kinds) {
    // Compressed and partial files end otherwise: the search then takes every udplog* name.
    const char* pattern = kinds == kPlatLogPlain ? "udplog*.log" : "udplog*";
    size_t patternSize = strlen(pattern) + 1;
    char path[kPathRoom];
    int folderLength = snprintf(path, sizeof path, "%s\\", folder);
    if (folderLength < 0 || static_cast<size_t>(folderLength) + patternSize > sizeof path) {
        return false;
    }
    memcpy(path + folderLength, pattern, patternSize);

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) {
        // An existing folder without a matching file is listed fine: it is just empty.
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (!IsLogFileName(found.cFileName, kinds)) continue;
        PlatLogFileEntry entry;
        entry.name = found.cFileName;
        entry.modifiedNanoseconds = FileTimeToUnixNanoseconds(found.ftLastWriteTime);
        // The search tells no file index, and opening every entry on every idle pass to learn it
        // would cost far more than the search. None is needed: the open log file is protected by
        // the system itself, as the C runtime opens it without delete sharing, so deleting it
        // fails. {0, 0} matches no open file.
        entry.id = {0, 0};
        entry.sizeBytes = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        visitor(entry, context);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

bool PlatDeleteFile(const char* path) { return DeleteFileA(path) != 0; }

bool PlatFreeDiskSpace(const char* folder, uint64_t* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

bool PlatIsNoSpaceError(int errorCode) { return errorCode == ENOSPC; }

bool PlatRenameFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool PlatCopyModificationTime(const char* from, const char* to) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(from, GetFileExInfoStandard, &info)) return false;
    HANDLE file = CreateFileA(to, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool set = SetFileTime(file, nullptr, nullptr, &info.ftLastWriteTime) != 0;
    CloseHandle(file);
    return set;
}

bool PlatFlushToDisk(FILE* stream) {
    if (fflush(stream) != 0) return false;
    intptr_t handle = _get_osfhandle(_fileno(stream));
    return handle != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0;
}

int64_t PlatFolderChangeStamp(const char* folder) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(folder, GetFileExInfoStandard, &info)) return -1;
    return FileTimeToUnixNanoseconds(info.ftLastWriteTime);
}

FILE* PlatOpenLogFile(const char* path, int* errorCode) {
    // A plain open for appending: creating a symbolic link needs a privilege on Windows, and a
    // named pipe cannot be planted in a folder, so the refusal of those needs no code here.
    FILE* stream = fopen(path, "a");
    if (stream == nullptr) {
        *errorCode = errno;
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

// A batch the file takes only in part is cut back whole: in text mode the bytes on disk are not
// the bytes given (each line feed is stored as CR LF), so the end of the last whole record is not
// known there. The caller then writes the records one by one.
int PlatAppendRecords(FILE* stream, const char* data, const uint32_t* ends, int count,
                      int* errorCode) {
    // The stream is in text mode: the C runtime's low-level write stores each line feed as CR LF.
    size_t length = count > 0 ? ends[count - 1] : 0;
    int fd = _fileno(stream);
    intptr_t handle = _get_osfhandle(fd);
    __int64 end = _lseeki64(fd, 0, SEEK_END);
    if (handle == -1 || end < 0) {
        if (errorCode != nullptr) *errorCode = errno;
        return 0;
    }
    size_t written = 0;
    while (written < length) {
        size_t piece = length - written;
        if (piece > 0x40000000) piece = 0x40000000;
        int n = _write(fd, data + written, static_cast<unsigned>(piece));
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    if (written == length) return count;
    // Cut the file back to where the batch began, keeping the write's own error number.
    int error = errno;
    if (errorCode != nullptr) *errorCode = error;
    LARGE_INTEGER cut;
    cut.QuadPart = end;
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    if (written > 0 && SetFilePointerEx(file, cut, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    _lseeki64(fd, 0, SEEK_END);
    errno = error;
    return 0;
}
