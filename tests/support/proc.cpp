// Readers of a process's statistics in /proc.
#include "support/proc.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "support/files.h"

namespace testing_support {

double ProcessCpuSeconds(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::vector<std::string> values;
    std::string value;
    while (fields >> value) values.push_back(value);
    // After the command name: state is field 3, utime field 14, stime field 15.
    if (values.size() < 13) return -1;
    double ticks = std::stod(values[11]) + std::stod(values[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The value of a field ("SigCgt:", "VmRSS:") of /proc/<pid>/status; empty if there is none.
static std::string StatusField(pid_t pid, const std::string& field) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return line.substr(field.size());
    }
    return "";
}

bool ProcessCatchesSignal(pid_t pid, int signalNumber) {
    std::string caught = StatusField(pid, "SigCgt:");
    return !caught.empty() && (std::stoull(caught, nullptr, 16) >> (signalNumber - 1)) & 1;
}

long ProcessRssKb(pid_t pid) {
    std::string rss = StatusField(pid, "VmRSS:");
    return rss.empty() ? -1 : std::stol(rss);
}

// What each thread of a process is doing and which signals are pending, from /proc.
std::string DescribeProcess(pid_t pid) {
    std::string proc = "/proc/" + std::to_string(pid);
    std::string text;
    std::istringstream status(ReadFile(proc + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("State:", 0) == 0 || line.rfind("Sig", 0) == 0 ||
            line.rfind("ShdPnd:", 0) == 0) {
            text += line + "\n";
        }
    }
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task", error)) {
        std::string dir = task.path().string();
        std::string comm = ReadFile(dir + "/comm");
        if (!comm.empty() && comm.back() == '\n') comm.pop_back();
        std::string syscall = ReadFile(dir + "/syscall");
        text += "thread " + task.path().filename().string() + " (" + comm + ") in " +
                ReadFile(dir + "/wchan") + ", syscall " + syscall.substr(0, syscall.find(' ')) +
                "\n";
    }
    return text;
}

}  // namespace testing_support
