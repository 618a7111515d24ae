// The Windows file and clock services: the log folder search, file times on the wall clock's
// scale, the open log file's protection, and records stored with CR LF.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "support/files.h"

namespace {

using testing_support::TempDir;

// Creates `name` in `folder` with a line of text.
void Touch(const TempDir& folder, const char* name) { testing_support::WriteFile(folder.File(name), "x\n"); }

struct Listing {
    std::set<std::string> names;
    std::vector<PlatLogFileEntry> entries;
    static void Visit(const PlatLogFileEntry& entry, void* context) {
        auto* listing = static_cast<Listing*>(context);
        listing->names.insert(entry.name);
        listing->entries.push_back(entry);
        listing->entries.back().name = nullptr;  // only valid during the visit
    }
};

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    fclose(file);
    return bytes;
}

TEST(Win32Files, SearchFindsLogFilesWithoutRegardToCaseAndNothingElse) {
    TempDir folder;
    Listing empty;
    EXPECT_TRUE(PlatListLogFiles(folder.Path().c_str(), Listing::Visit, &empty));
    EXPECT_TRUE(empty.names.empty());

    for (const char* name : {"udplog_20240101000000.log", "UDPLOG_A.LOG", "udplog.log", "notes.txt",
                             "udplog_1.txt", "xudplog_1.log", "udplog_1.logx"}) {
        Touch(folder, name);
    }
    CreateDirectoryA(folder.File("udplog_folder.log").c_str(), nullptr);
    Listing listing;
    ASSERT_TRUE(PlatListLogFiles(folder.Path().c_str(), Listing::Visit, &listing));
    EXPECT_EQ(listing.names,
              (std::set<std::string>{"udplog_20240101000000.log", "UDPLOG_A.LOG", "udplog.log"}));

    Listing missing;
    EXPECT_FALSE(PlatListLogFiles(folder.File("missing").c_str(), Listing::Visit, &missing));
}

TEST(Win32Files, FileTimesAreOnTheWallClockScale) {
    TempDir folder;
    int64_t before = PlatWallClockNanoseconds();
    Touch(folder, "udplog_new.log");
    int64_t after = PlatWallClockNanoseconds();
    Touch(folder, "udplog_old.log");
    // 9 September 2001, 01:46:40 UTC: 10^9 seconds after 1970.
    HANDLE file = CreateFileA(folder.File("udplog_old.log").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ULONGLONG ticks = 116444736000000000ULL + 10000000000000000ULL;
    FILETIME old = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &old));
    CloseHandle(file);

    Listing listing;
    ASSERT_TRUE(PlatListLogFiles(folder.Path().c_str(), Listing::Visit, &listing));
    ASSERT_EQ(listing.entries.size(), 2u);
    for (size_t i = 0; i < listing.entries.size(); ++i) {
        int64_t modified = listing.entries[i].modifiedNanoseconds;
        if (modified == 1000000000LL * 1000000000LL) continue;  // the old file, to the tick
        // A file written just now is never newer than "now" read after the write.
        EXPECT_LE(modified, after);
        EXPECT_GE(modified, before - 2000000000LL);
    }
    EXPECT_EQ(std::count_if(listing.entries.begin(), listing.entries.end(),
                            [](const PlatLogFileEntry& e) {
                                return e.modifiedNanoseconds == 1000000000LL * 1000000000LL;
                            }),
              1);
}

TEST(Win32Files, OpenLogFileStoresCrLfAndCannotBeDeleted) {
    TempDir folder;
    std::string path = folder.File("udplog_open.log");
    FILE* log = fopen(path.c_str(), "a");
    ASSERT_NE(log, nullptr);
    setvbuf(log, nullptr, _IONBF, 0);

    // Text mode: each line feed is stored as CR LF, and the position counts the stored bytes.
    ASSERT_TRUE(PlatAppendRecord(log, "120000: one\n", 12));
    ASSERT_TRUE(PlatAppendRecord(log, "120001: two\r\n", 13));
    EXPECT_EQ(ReadBytes(path), "120000: one\r\n120001: two\r\r\n");
    EXPECT_EQ(ftell(log), 27);

    // The clean-up relies on this: the system refuses to delete a file the C runtime holds open.
    EXPECT_FALSE(PlatDeleteFile(path.c_str()));
    EXPECT_EQ(ReadBytes(path).size(), 27u);

    FILE* other = fopen(folder.File("udplog_other.log").c_str(), "a");
    ASSERT_NE(other, nullptr);
    PlatFileId openId;
    PlatFileId otherId;
    ASSERT_TRUE(PlatFileIdOfStream(log, &openId));
    ASSERT_TRUE(PlatFileIdOfStream(other, &otherId));
    EXPECT_FALSE(openId.device == otherId.device && openId.inode == otherId.inode);
    fclose(other);

    fclose(log);
    EXPECT_TRUE(PlatDeleteFile(path.c_str()));
    EXPECT_FALSE(PlatDeleteFile(path.c_str()));
}

TEST(Win32Files, CurrentDirectoryMustFitItsRoom) {
    char directory[MAX_PATH];
    ASSERT_TRUE(PlatCurrentDirectory(directory, sizeof directory));
    size_t length = strlen(directory);
    ASSERT_GT(length, 0u);
    char exact[MAX_PATH];
    EXPECT_TRUE(PlatCurrentDirectory(exact, length + 1));
    EXPECT_STREQ(exact, directory);
    EXPECT_FALSE(PlatCurrentDirectory(exact, length));
}

}  // namespace
