// End-to-end: the log folder kept within --max-total under a stream, within --keep-free on a small
// file system, a full disk that costs the oldest log files instead of lines, and --compress.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "support/server_test.h"
#include "support/wait.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class FolderLimits : public ServerTest {
  protected:
    // Bytes in the udplog* files of `folder`, read while the server may delete some.
    static uint64_t FolderBytes(const std::string& folder) {
        uint64_t total = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            std::error_code sizeError;
            uint64_t size = entry.file_size(sizeError);
            if (!sizeError && entry.path().filename().string().rfind("udplog", 0) == 0) total += size;
        }
        return total;
    }

    // Fills every free block of the file system that holds `path`.
    static void Fill(const std::string& path) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        std::string block(4096, 'f');
        for (size_t chunk : {size_t(4096), size_t(1)}) {
            while (write(fd, block.data(), chunk) == static_cast<ssize_t>(chunk)) {
            }
        }
        close(fd);
    }

    // The texts of the records that are lines sent ("n NNNN ..."), in order.
    static std::vector<int> NumbersLogged(const std::string& folder) {
        std::vector<int> numbers;
        for (const std::string& record : SplitRecords(ReadLogs(folder))) {
            if (record.compare(6, 4, ": n ") == 0) numbers.push_back(std::stoi(record.substr(10, 4)));
        }
        return numbers;
    }
};

// Old files first, the open one never: what stays is the newest lines without a gap, the total
// never more than the cap and one file.
TEST_F(FolderLimits, MaxTotalHoldsUnderAStreamDeletingTheOldestFirst) {
    std::string folder = dir.File("capped");
    fs::create_directory(folder);
    WriteFile(folder + "/udplog_20200101000000.log", std::string(6000, 'a') + "\n");
    WriteFile(folder + "/udplog_20200102000000.log", std::string(6000, 'b') + "\n");
    ASSERT_TRUE(Listen(Console::Pipes, {folder, "8", "--max-total", "24K"}));
    EXPECT_NE(server.Output().find("\tRetention period: 30 days\n\tMax total: 24K\n\tPress"),
              std::string::npos) << server.Output();

    const uint64_t cap = 24 * 1024, oneFile = 8 * 1024 + 1024;
    uint64_t largest = 0;
    const int lines = 150;  // 5 KiB a second for 6 s: each file lives more than a second
    for (int i = 1; i <= lines; ++i) {
        char text[256];
        std::snprintf(text, sizeof text, "n %04d %s", i, std::string(190, '.').c_str());
        ASSERT_TRUE(sender.Send(Line(text)));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        largest = std::max(largest, FolderBytes(folder));
    }
    ASSERT_TRUE(server.WaitForOutput("n 0150"));
    ASSERT_TRUE(WaitForLogs(folder, "n 0150"));
    Quit(server);

    EXPECT_LE(largest, cap + oneFile);
    EXPECT_LE(FolderBytes(folder), cap + oneFile);
    EXPECT_FALSE(Exists(folder + "/udplog_20200101000000.log"));
    EXPECT_FALSE(Exists(folder + "/udplog_20200102000000.log"));
    std::vector<int> numbers = NumbersLogged(folder);
    ASSERT_FALSE(numbers.empty());
    EXPECT_GT(numbers.front(), 1) << "nothing of the stream was deleted";
    for (size_t i = 0; i < numbers.size(); ++i)
        ASSERT_EQ(numbers[i], numbers.front() + static_cast<int>(i)) << "a gap or a reorder";
    EXPECT_EQ(numbers.back(), lines);
    EXPECT_NE(server.Output().find("WARNING, log folder over --max-total (24K): deleted "),
              std::string::npos) << server.Output();
    EXPECT_EQ(server.Errors().find("deleted=0 "), std::string::npos) << server.Errors();
}

// On a 1 MiB file system holding 600 KiB of old log files, --keep-free 600K costs the oldest one.
TEST_F(FolderLimits, KeepFreeDeletesTheOldestOnceFreeSpaceRunsShort) {
    std::string disk = dir.File("disk");
    if (!dir.MountTmpfs(disk, 1 << 20, false)) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    for (const char* day : {"01", "02", "03"})
        WriteFile(disk + "/udplog_202001" + day + "000000.log", std::string(200 * 1024 - 1, 'o') + "\n");
    ASSERT_TRUE(Listen(Console::Pipes, {disk, "64", "--keep-free", "600K"}));
    ASSERT_TRUE(Show("n 0001 stored"));
    ASSERT_TRUE(WaitForLogs(disk, "n 0001 stored"));
    Quit(server);
    EXPECT_FALSE(Exists(disk + "/udplog_20200101000000.log"));
    EXPECT_TRUE(Exists(disk + "/udplog_20200102000000.log"));
    EXPECT_TRUE(Exists(disk + "/udplog_20200103000000.log"));
    EXPECT_NE(server.Output().find("\tKeep free: 600K\n"), std::string::npos);
    EXPECT_NE(ReadLogs(disk).find(
                  ": WARNING, free space under --keep-free (600K): deleted 1 oldest file (200K)\n"),
              std::string::npos);
}

// A full disk (filled by someone else) with a cap far away: the write that fails frees the oldest
// closed file and is tried again, so no line is lost.
TEST_F(FolderLimits, FullDiskCostsTheOldestFileNotALine) {
    std::string disk = dir.File("disk");
    if (!dir.MountTmpfs(disk, 1 << 20, false)) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    for (const char* day : {"01", "02"})
        WriteFile(disk + "/udplog_202001" + day + "000000.log", std::string(300 * 1024 - 1, 'o') + "\n");
    ASSERT_NO_FATAL_FAILURE(Fill(disk + "/filler"));
    ASSERT_TRUE(Listen(Console::Pipes, {disk, "64", "--max-total", "100M"}));
    for (int i = 1; i <= 20; ++i) ASSERT_TRUE(sender.Send(Line("n " + std::to_string(1000 + i))));
    ASSERT_TRUE(server.WaitForOutput("n 1020"));
    ASSERT_TRUE(server.WaitForOutput("WARNING, disk full: deleted 1 oldest file (300K) to store "
                                     "the log\n"));
    Quit(server);
    EXPECT_FALSE(Exists(disk + "/udplog_20200101000000.log"));
    EXPECT_TRUE(Exists(disk + "/udplog_20200102000000.log"));
    std::vector<int> numbers = NumbersLogged(disk);
    ASSERT_EQ(numbers.size(), 20u);
    EXPECT_EQ(numbers.back(), 1020);
    EXPECT_NE(server.Errors().find(" not_stored=0 "), std::string::npos) << server.Errors();
}

// What zcat reads from the compressed log files of `folder`, in name order.
std::string Unzipped(const std::string& folder) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".log.gz") == 0) names += " " + name;
    }
    if (names.empty()) return "";
    std::string command = "cd '" + folder + "' && ls" + names + " | sort | xargs zcat";
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return text;
}

// A kill -9 while a file left by an earlier run is compressed leaves it whole and no half file
// under the final name; the next start compresses it, and every line of a stream comes back from
// zcat in order, the open file's at the way out too.
TEST_F(FolderLimits, CompressSurvivesAKillAndEveryLineComesBackFromZcat) {
    std::string folder = dir.File("gz");
    fs::create_directory(folder);
    std::string old = folder + "/udplog_20200101000000.log";
    std::string oldText;
    for (int i = 0; oldText.size() < (24u << 20); ++i)
        oldText += "120000: board 3 cycle " + std::to_string(i * 7919ULL % 100003) + " state ok\n";
    WriteFile(old, oldText);

    ASSERT_TRUE(Listen(Console::Pipes, {folder, "--compress"}));
    EXPECT_NE(server.Output().find("\tCompress: gzip\n"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return Exists(old + ".gz.tmp"); }, 10)) << "no compression seen";
    ASSERT_TRUE(server.Signal(SIGKILL));
    ASSERT_TRUE(server.WaitExit(10));
    EXPECT_FALSE(Exists(old + ".gz")) << "a half file under the final name";
    EXPECT_EQ(ReadFile(old), oldText);

    Server again;
    ASSERT_TRUE(again.Start(MakeOptions({std::to_string(port), folder, "4", "--compress"},
                                        dir.Path(), Console::Pipes)));
    ASSERT_TRUE(again.WaitForOutput("Start listening"));
    ASSERT_TRUE(WaitUntil([&] { return !Exists(old); }, 60)) << "not compressed again";
    std::string sent;
    for (int i = 1; i <= 120; ++i) {  // 100 bytes every 25 ms: a 4 KiB file a second or so
        char text[128];
        std::snprintf(text, sizeof text, "n %04d %s", i, std::string(90, '-').c_str());
        sent += std::string(text) + "\n";
        ASSERT_TRUE(sender.Send(Line(text)));
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(again.WaitForOutput("n 0120"));
    Quit(again);
    EXPECT_TRUE(LogFileNames(folder).empty()) << "a log file left uncompressed";
    EXPECT_FALSE(Exists(old + ".gz.tmp"));
    std::string all = Unzipped(folder);
    ASSERT_EQ(all.substr(0, oldText.size()), oldText);
    std::string lines;
    for (const std::string& record : SplitRecords(all.substr(oldText.size())))
        if (HasTimePrefix(record)) lines += record.substr(8);
    EXPECT_EQ(lines, sent);
}

}  // namespace
