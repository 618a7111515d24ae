// The log folder kept within --max-total and --keep-free, and room made when the disk is full.
#include "output/folder_limits.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "output/folder_cap.h"
#include "output/log_file.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

// Why files were deleted; each reason has its own warning.
enum Reason { kForTotal, kForFree, kForRoom, kReasons };

struct Tally {
    size_t files;
    uint64_t bytes;
};

// After a look that could delete nothing, how long the next waits unless the folder changes.
constexpr int64_t kRetryAfterMs = 1000;

// A full disk asks for room for at least this much besides one log file.
constexpr uint64_t kLeastRoom = 64 * 1024;

struct FolderLimitState {
    const OutputSettings* settings = nullptr;
    int64_t stampAtListing = -1;           // the folder's change stamp after the last listing
    uint64_t closedTotal = 0;              // the closed files' bytes then
    int64_t passQuietUntil = 0;            // the last pass could delete nothing: wait till then
    int64_t roomQuietUntil = 0;            // the same for a full disk
    Tally untold[kReasons] = {};           // deletions not told yet
};

FolderLimitState state;

struct Listing {
    std::vector<FolderFile>* files;
    bool haveOpenId;
    PlatFileId openId;
    const char* openName;  // nullptr when no file is open
};

void AddFile(const PlatLogFileEntry& entry, void* context) {
    Listing& listing = *static_cast<Listing*>(context);
    bool open = (listing.haveOpenId && entry.id.device == listing.openId.device &&
                 entry.id.inode == listing.openId.inode) ||
                (listing.openName != nullptr && strcmp(entry.name, listing.openName) == 0);
    listing.files->push_back({entry.name, entry.modifiedNanoseconds, entry.sizeBytes, open});
}

bool ListFolder(const LogFile& file, std::vector<FolderFile>& files) {
    Listing listing = {&files, false, {0, 0}, nullptr};
    if (file.stream != nullptr) {
        listing.haveOpenId = LogFileIdentity(file, &listing.openId);
        const char* slash = strrchr(file.path, '/');
        listing.openName = slash != nullptr ? slash + 1 : file.path;
    }
    return PlatListLogFiles(state.settings->debugFolder, AddFile, &listing,
                            CountedLogKinds(*state.settings));
}

// Deletes the files chosen, counting each in `deleted` and in the tally of its reason.
void DeleteChosen(const char* folder, const std::vector<FolderFile>& files,
                  const FolderChoice& choice) {
    for (size_t i = 0; i < choice.Count(); ++i) {
        Reason reason = i < choice.forTotal                   ? kForTotal
                        : i < choice.forTotal + choice.forFree ? kForFree
                                                               : kForRoom;
        char path[kDebugFolderSize + 300];
        int needed = snprintf(path, sizeof path, "%s/%s", folder, files[i].name.c_str());
        if (needed < 0 || needed >= static_cast<int>(sizeof path)) continue;
        if (!PlatDeleteFile(path)) continue;
        ++runStatistics.deleted;
        ++state.untold[reason].files;
        state.untold[reason].bytes += files[i].size;
    }
}

uint64_t ClosedTotal(const std::vector<FolderFile>& files, size_t from) {
    uint64_t total = 0;
    for (size_t i = from; i < files.size(); ++i) {
        if (!files[i].open) total += files[i].size;
    }
    return total;
}

// Lists the folder, deletes what the limits and `room` ask for; true when something was deleted.
bool ListAndDelete(const LogFile& file, uint64_t room) {
    const OutputSettings& settings = *state.settings;
    std::vector<FolderFile> files;
    if (!ListFolder(file, files)) return false;
    FolderLimits limits = {settings.maxTotalBytes, settings.keepFreeBytes};
    uint64_t freeBytes = 0;
    if (limits.keepFree > 0 && !PlatFreeDiskSpace(settings.debugFolder, &freeBytes))
        limits.keepFree = 0;  // not known: only the total and the room asked for decide
    FolderChoice choice = ChooseFilesToDelete(files, limits, freeBytes, room);
    uint64_t deletedBefore = runStatistics.deleted;
    DeleteChosen(settings.debugFolder, files, choice);
    state.closedTotal = ClosedTotal(files, choice.Count());
    state.stampAtListing = PlatFolderChangeStamp(settings.debugFolder);
    return runStatistics.deleted != deletedBefore;
}

}  // namespace

void StartFolderLimits(const OutputSettings& settings) { state.settings = &settings; }

bool FolderLimitsSet(const OutputSettings& settings) {
    return settings.maxTotalBytes > 0 || settings.keepFreeBytes > 0;
}

int CountedLogKinds(const OutputSettings& settings) {
    return FolderLimitsSet(settings) || settings.compress ? kPlatLogPlain | kPlatLogCompressed
                                                          : kPlatLogPlain;
}

void EnforceFolderLimits(const LogFile& file) {
    if (state.settings == nullptr || !FolderLimitsSet(*state.settings)) return;
    const OutputSettings& settings = *state.settings;
    int64_t stamp = PlatFolderChangeStamp(settings.debugFolder);
    bool over = false;
    if (settings.maxTotalBytes > 0) {
        long openSize = file.stream != nullptr ? ftell(file.stream) : 0;
        over = state.closedTotal + static_cast<uint64_t>(openSize > 0 ? openSize : 0) >
               settings.maxTotalBytes;
    }
    uint64_t freeBytes = 0;
    if (!over && settings.keepFreeBytes > 0 && PlatFreeDiskSpace(settings.debugFolder, &freeBytes))
        over = freeBytes < settings.keepFreeBytes;
    bool changed = stamp < 0 || stamp != state.stampAtListing;
    int64_t now = PlatMonotonicMilliseconds();
    if (changed || (over && now >= state.passQuietUntil)) {
        if (!ListAndDelete(file, 0) && over) state.passQuietUntil = now + kRetryAfterMs;
    }
}

bool TakeFolderLimitsWarning(char* text, size_t room) {
    for (int reason = 0; reason < kReasons && state.settings != nullptr; ++reason) {
        Tally& tally = state.untold[reason];
        if (tally.files == 0) continue;
        char size[32];
        FormatByteSize(tally.bytes, size, sizeof size);
        const char* plural = tally.files == 1 ? "" : "s";
        if (reason == kForTotal) {
            snprintf(text, room,
                     "WARNING, log folder over --max-total (%s): deleted %zu oldest file%s (%s)\n",
                     state.settings->maxTotalText, tally.files, plural, size);
        } else if (reason == kForFree) {
            snprintf(text, room,
                     "WARNING, free space under --keep-free (%s): deleted %zu oldest file%s (%s)\n",
                     state.settings->keepFreeText, tally.files, plural, size);
        } else {
            snprintf(text, room,
                     "WARNING, disk full: deleted %zu oldest file%s (%s) to store the log\n",
                     tally.files, plural, size);
        }
        tally = Tally{};
        return true;
    }
    return false;
}

bool FreeRoomAfterFullDisk(const LogFile& file) {
    if (state.settings == nullptr || !FolderLimitsSet(*state.settings)) return false;
    int64_t now = PlatMonotonicMilliseconds();
    if (now < state.roomQuietUntil) return false;
    int32_t fileSize = state.settings->logFileSize;
    uint64_t room = kLeastRoom + (fileSize > 0 ? static_cast<uint64_t>(fileSize) * 1024 : 0);
    if (ListAndDelete(file, room)) return true;
    state.roomQuietUntil = now + kRetryAfterMs;
    return false;
}
