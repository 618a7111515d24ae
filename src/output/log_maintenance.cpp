// CDebugUI::CheckLogFiles: size rotation of the open log file and age clean-up of the log folder.
#include <cstdio>

#include "output/debug_ui.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

constexpr int64_t kNanosecondsPerDay = 86400LL * 1000000000LL;

struct CleanUp {
    const char* folder;
    int64_t now;
    int32_t retentionDays;
    bool haveOpenFile;
    PlatFileId openFile;
};

// True when the file was last modified more than the retention period before now. Worked out
// without overflow for any retention the command line can give.
bool IsExpired(const CleanUp& pass, int64_t modified) {
    if (pass.retentionDays < 0) return true;  // a cut-off in the future
    int64_t age = pass.now - modified;        // both within a few centuries of 1970
    if (age <= 0) return false;
    // age > retentionDays days, compared in whole days and the remainder
    int64_t days = age / kNanosecondsPerDay;
    return days > pass.retentionDays || (days == pass.retentionDays && age % kNanosecondsPerDay > 0);
}

void DeleteIfExpired(const PlatLogFileEntry& entry, void* context) {
    const CleanUp& pass = *static_cast<const CleanUp*>(context);
    if (pass.haveOpenFile && entry.id.device == pass.openFile.device &&
        entry.id.inode == pass.openFile.inode) {
        return;  // the file being written is never removed
    }
    if (!IsExpired(pass, entry.modifiedNanoseconds)) return;
    char path[256];
    int needed = snprintf(path, sizeof path, "%s/%s", pass.folder, entry.name);
    if (needed < 0 || needed >= static_cast<int>(sizeof path)) return;  // would not fit: left alone
    PlatDeleteFile(path);
}

}  // namespace

void CDebugUI::CheckLogFiles() {
    if (settings == nullptr) return;
    int64_t now = PlatWallClockNanoseconds();

    if (logFile != nullptr) {
        long position = ftell(logFile);
        int64_t limit = static_cast<int64_t>(settings->logFileSize) * 1024;
        if (static_cast<int64_t>(position) > limit) {
            fclose(logFile);
            logFile = nullptr;
        }
    }

    CleanUp pass;
    pass.folder = settings->debugFolder;
    pass.now = now;
    pass.retentionDays = settings->retentionDays;
    pass.haveOpenFile = logFile != nullptr && PlatFileIdOfStream(logFile, &pass.openFile);
    PlatListLogFiles(settings->debugFolder, DeleteIfExpired, &pass);
}
