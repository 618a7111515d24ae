// Temporary folders, whole files, file times, and the server's log files in a folder.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace testing_support {

/// A fresh folder under the system's temporary folder, removed with everything in it (and
/// anything mounted in it) when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }

    /// Mounts a tmpfs of `sizeBytes` at `dir` (created if missing), read-only if asked. False when
    /// mounting is not permitted here (and always on Windows).
    bool MountTmpfs(const std::string& dir, long sizeBytes, bool readOnly);
    bool Remount(const std::string& dir, bool readOnly);

  private:
    std::string path;
    std::vector<std::string> mounts;
};

/// The whole content of a file, or "" when it cannot be read. On Windows the file is read as text:
/// the CR LF a log file stores for each line feed reads as LF, so contents compare as on Linux.
std::string ReadFile(const std::string& path);

/// Creates (or replaces) `path` with exactly `content`.
void WriteFile(const std::string& path, const std::string& content);

/// Creates `path` with `content` and sets its modification (and access) time to `when`.
void WriteAgedFile(const std::string& path, const std::string& content, std::time_t when);

/// Sets the modification and access time of `path` to `when`.
void AgeFile(const std::string& path, std::time_t when);

bool Exists(const std::string& path);

/// Names of the files udplog_YYYYMMDDHHMMSS.log directly in `dir`, sorted.
std::vector<std::string> LogFileNames(const std::string& dir);

/// The contents of every log file in `dir`, in name order.
std::string ReadLogs(const std::string& dir);

/// Waits until the log files in `dir` hold `text`; on time-out adds a gtest failure showing them.
bool WaitForLogs(const std::string& dir, const std::string& text, double seconds = 10);

}  // namespace testing_support
