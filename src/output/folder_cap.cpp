// Choice of the oldest closed log files to delete for --max-total, --keep-free and a full disk.
#include "output/folder_cap.h"

#include <algorithm>

uint64_t TimeInLogFileName(const std::string& name) {
    const size_t kStart = 7;  // after "udplog_"
    if (name.size() < kStart + 14 || name.compare(0, kStart, "udplog_") != 0) return 0;
    uint64_t time = 0;
    for (size_t i = kStart; i < kStart + 14; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        time = time * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    return name.size() == kStart + 14 || name[kStart + 14] == '.' ? time : 0;
}

FolderChoice ChooseFilesToDelete(std::vector<FolderFile>& files, const FolderLimits& limits,
                                 uint64_t freeBytes, uint64_t room) {
    std::stable_sort(files.begin(), files.end(), [](const FolderFile& a, const FolderFile& b) {
        if (a.open != b.open) return b.open;
        uint64_t timeA = TimeInLogFileName(a.name);
        uint64_t timeB = TimeInLogFileName(b.name);
        if (timeA != timeB) return timeA < timeB;
        return a.modified < b.modified;
    });
    uint64_t total = 0;
    for (const FolderFile& file : files) total += file.size;

    FolderChoice choice = {};
    uint64_t freed = 0;
    size_t next = 0;
    // Takes the next closed file for one reason; false when none is left.
    auto take = [&](size_t& count, uint64_t& bytes) {
        if (next >= files.size() || files[next].open) return false;
        uint64_t size = files[next++].size;
        ++count;
        bytes += size;
        freed += size;
        total -= size;
        return true;
    };
    if (limits.maxTotal > 0) {
        while (total > limits.maxTotal && take(choice.forTotal, choice.bytesForTotal)) {
        }
    }
    if (limits.keepFree > 0) {
        while (freeBytes + freed < limits.keepFree && take(choice.forFree, choice.bytesForFree)) {
        }
    }
    while (freed < room && take(choice.forRoom, choice.bytesForRoom)) {
    }
    return choice;
}
