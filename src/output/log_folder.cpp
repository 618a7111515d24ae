// The log folder's age clean-up of udplog*.log files.
#include "output/log_folder.h"

#include <cstdio>

#include "output/output_settings.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

constexpr uint64_t kNanosecondsPerDay = 86400ULL * 1000000000ULL;

struct CleanUp {
    const char* folder;
    int64_t now;
    int32_t retentionDays;
    bool haveOpenFile;
    PlatFileId openFile{};
    int64_t firstExpiry;  // the earliest moment a file left in place comes of age
};

// The moment a file modified at `modified` comes of age (INT64_MAX: never within 64 bits).
int64_t ExpiryOf(int32_t retentionDays, int64_t modified) {
    if (retentionDays < 0) return INT64_MIN;
    if (static_cast<uint64_t>(retentionDays) > static_cast<uint64_t>(INT64_MAX) / kNanosecondsPerDay)
        return INT64_MAX;
    int64_t span = static_cast<int64_t>(static_cast<uint64_t>(retentionDays) * kNanosecondsPerDay);
    return modified > INT64_MAX - span ? INT64_MAX : modified + span;
}

// True when the file was last modified more than the retention period before now. Worked out
// without overflow for any time stamp and any retention the command line can give.
bool IsExpired(const CleanUp& pass, int64_t modified) {
    if (pass.retentionDays < 0) return true;  // a cut-off in the future
    if (modified >= pass.now) return false;
    // The difference of two 64-bit values always fits 64 unsigned bits.
    uint64_t age = static_cast<uint64_t>(pass.now) - static_cast<uint64_t>(modified);
    uint64_t days = age / kNanosecondsPerDay;
    uint64_t retention = static_cast<uint64_t>(pass.retentionDays);
    return days > retention || (days == retention && age % kNanosecondsPerDay > 0);
}

void DeleteIfExpired(const PlatLogFileEntry& entry, void* context) {
    CleanUp& pass = *static_cast<CleanUp*>(context);
    // Every file counts here, the open one too: once closed it is an old file like any other.
    int64_t expiry = ExpiryOf(pass.retentionDays, entry.modifiedNanoseconds);
    if (expiry < pass.firstExpiry) pass.firstExpiry = expiry;
    if (pass.haveOpenFile && entry.id.device == pass.openFile.device &&
        entry.id.inode == pass.openFile.inode) {
        return;  // the file being written is never removed
    }
    if (!IsExpired(pass, entry.modifiedNanoseconds)) return;
    char path[kLogPathSize];
    int needed = snprintf(path, sizeof path, "%s/%s", pass.folder, entry.name);
    if (needed < 0 || needed >= static_cast<int>(sizeof path)) return;  // would not fit: left alone
    if (PlatDeleteFile(path)) ++runStatistics.deleted;
}

}  // namespace

void DeleteExpiredLogFiles(LogFolder& state, const char* folder, int32_t retentionDays,
                           const PlatFileId* openFile, int kinds) {
    CleanUp pass;
    pass.folder = folder;
    pass.now = PlatWallClockNanoseconds();
    pass.retentionDays = retentionDays;
    pass.haveOpenFile = openFile != nullptr;
    if (openFile != nullptr) pass.openFile = *openFile;
    pass.firstExpiry = INT64_MAX;
    // Taken before the listing, so that a change while it runs shows at the next look.
    int64_t stamp = PlatFolderChangeStamp(folder);
    bool listed = PlatListLogFiles(folder, DeleteIfExpired, &pass, kinds);
    state.stampAtCleanUp = listed ? stamp : -1;
    state.firstExpiryAtCleanUp = pass.firstExpiry;
}

bool CleanUpMayDelete(const LogFolder& state, const char* folder) {
    int64_t stamp = PlatFolderChangeStamp(folder);
    return stamp < 0 || stamp != state.stampAtCleanUp ||
           PlatWallClockNanoseconds() >= state.firstExpiryAtCleanUp;
}

void NoteOwnFileClosed(LogFolder& state, int32_t retentionDays) {
    int64_t expiry = ExpiryOf(retentionDays, PlatWallClockNanoseconds());
    if (expiry < state.firstExpiryAtCleanUp) state.firstExpiryAtCleanUp = expiry;
}

void NoteOwnFolderChange(LogFolder& state, const char* folder, int64_t stampBefore) {
    if (stampBefore >= 0 && stampBefore == state.stampAtCleanUp)
        state.stampAtCleanUp = PlatFolderChangeStamp(folder);
}
