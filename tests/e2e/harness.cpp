// Test harness that runs the real udptrail binary: process control, captured output, UDP sender,
// temporary folders and readers for log files and /proc.
#include "e2e/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Millis(double seconds) {
    return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Shows captured bytes readably in a failure message: control bytes as \xNN, long text cut.
std::string Printable(const std::string& bytes) {
    std::string shown;
    const size_t limit = 4000;
    size_t start = bytes.size() > limit ? bytes.size() - limit : 0;
    if (start > 0) shown += "[... " + std::to_string(start) + " bytes before ...]";
    for (size_t i = start; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            shown += "\\n\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

// Removes the CR that a terminal's output processing puts before every LF.
std::string UndoTerminalNewlines(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += raw[i];
    }
    return out;
}

}  // namespace

const char* ServerBinary() { return UDPTRAIL_BINARY; }

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    auto deadline = Clock::now() + Millis(seconds);
    while (true) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

LaunchOptions MakeOptions(std::vector<std::string> args, const std::string& workDir,
                          Console console) {
    LaunchOptions options;
    options.args = std::move(args);
    options.workDir = workDir;
    if (console != Console::Terminal) {
        options.input = console == Console::Pipes ? Stream::Pipe : Stream::Null;
        options.output = Stream::Pipe;
        options.errors = Stream::Pipe;
    }
    return options;
}

std::string ExitStatus::Describe() const {
    if (!ended) return "still running";
    if (signal != 0) return "killed by signal " + std::to_string(signal);
    return "exit status " + std::to_string(code);
}

// ---------------------------------------------------------------------------------------------
// Server

Server::~Server() {
    if (pid > 0 && !status.ended) {
        kill(pid, SIGKILL);
        Reap(true);
    }
    StopReader();
    CloseFd(terminalMaster);
    CloseFd(terminalSlave);
    CloseFd(inputPipe);
    CloseFd(outputPipe);
    CloseFd(errorPipe);
    CloseFd(wakePipe[0]);
    CloseFd(wakePipe[1]);
}

bool Server::Start(const LaunchOptions& options) {
    // A harness write into a pipe whose reader has ended must fail, not kill the test.
    signal(SIGPIPE, SIG_IGN);

    bool useTerminal = options.input == Stream::Terminal || options.output == Stream::Terminal ||
                       options.errors == Stream::Terminal;
    outputIsTerminal = options.output == Stream::Terminal;
    errorsIsTerminal = options.errors == Stream::Terminal;
    outputBytesPerSecond = options.outputBytesPerSecond;
    int childEnd[3] = {-1, -1, -1};
    int nullFd = -1;
    if (useTerminal) {
        winsize size{};
        size.ws_row = 50;
        size.ws_col = 128;
        if (openpty(&terminalMaster, &terminalSlave, nullptr, nullptr, &size) != 0) {
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
            return false;
        }
        fcntl(terminalMaster, F_SETFD, FD_CLOEXEC);
        fcntl(terminalSlave, F_SETFD, FD_CLOEXEC);
        tcgetattr(terminalSlave, &initialMode);
    }
    if (options.input == Stream::Null || options.output == Stream::Null ||
        options.errors == Stream::Null) {
        nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    }
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "pipe2: " << std::strerror(errno);
        return false;
    }
    Stream kinds[3] = {options.input, options.output, options.errors};
    for (int i = 0; i < 3; ++i) {
        if (kinds[i] == Stream::Terminal) {
            childEnd[i] = terminalSlave;
        } else if (kinds[i] == Stream::Null) {
            childEnd[i] = nullFd;
        } else {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) {
                ADD_FAILURE() << "pipe2: " << std::strerror(errno);
                return false;
            }
            if (i == 0) {
                childEnd[0] = ends[0];
                inputPipe = ends[1];
            } else {
                childEnd[i] = ends[1];
                (i == 1 ? outputPipe : errorPipe) = ends[0];
            }
        }
    }
    outputOpen = outputPipe >= 0;
    errorsOpen = errorPipe >= 0;

    // Everything the child needs is prepared before fork: after it only system calls are made.
    std::vector<std::string> argStorage;
    argStorage.push_back(options.program.empty() ? ServerBinary() : options.program);
    argStorage.insert(argStorage.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& arg : argStorage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const char* workDir = options.workDir.empty() ? nullptr : options.workDir.c_str();
    int slave = terminalSlave;

    pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        if (useTerminal) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
        }
        for (int i = 0; i < 3; ++i) dup2(childEnd[i], i);
        if (workDir != nullptr && chdir(workDir) != 0) _exit(126);
        // Dispositions set to "ignore" survive exec; the server must start with the defaults.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &byDefault, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        close_range(3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }

    for (int i = 0; i < 3; ++i) {
        if (kinds[i] == Stream::Pipe) close(childEnd[i]);
    }
    CloseFd(nullFd);
    reader = std::thread(&Server::ReaderLoop, this);
    return true;
}

void Server::ReaderLoop() {
    char buffer[65536];
    while (true) {
        pollfd fds[4];
        int count = 0;
        int outputFd;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (readerStop) break;
            if (readerDropOutput && outputPipe >= 0) {
                CloseFd(outputPipe);
                outputOpen = false;
                changed.notify_all();
            }
            outputFd = outputPipe;
        }
        fds[count++] = {wakePipe[0], POLLIN, 0};
        if (terminalMaster >= 0) fds[count++] = {terminalMaster, POLLIN, 0};
        if (outputFd >= 0 && outputOpen && !readerPauseOutput) fds[count++] = {outputFd, POLLIN, 0};
        if (errorPipe >= 0 && errorsOpen) fds[count++] = {errorPipe, POLLIN, 0};
        int ready = poll(fds, count, 200);
        if (ready <= 0) continue;
        for (int i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == wakePipe[0]) {
                while (read(wakePipe[0], buffer, sizeof buffer) > 0) {
                }
                continue;
            }
            bool throttled =
                outputBytesPerSecond > 0 &&
                (fds[i].fd == outputFd || (fds[i].fd == terminalMaster && outputIsTerminal));
            size_t room = throttled
                              ? std::clamp<size_t>(outputBytesPerSecond / 1000, 1, sizeof buffer)
                              : sizeof buffer;
            ssize_t got = read(fds[i].fd, buffer, room);
            if (throttled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard<std::mutex> lock(mutex);
            if (fds[i].fd == errorPipe) {
                if (got > 0) {
                    errorBytes.append(buffer, got);
                } else if (got == 0 || errno != EINTR) {
                    errorsOpen = false;
                }
            } else if (fds[i].fd == terminalMaster) {
                if (got > 0 && outputIsTerminal) outputBytes.append(buffer, got);
                if (got > 0 && !outputIsTerminal && errorsIsTerminal)
                    errorBytes.append(buffer, got);
            } else {
                if (got > 0) {
                    outputBytes.append(buffer, got);
                } else if (got == 0 || errno != EINTR) {
                    outputOpen = false;
                }
            }
            changed.notify_all();
        }
    }
}

void Server::StopReader() {
    if (!reader.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        readerStop = true;
    }
    char wake = 1;
    [[maybe_unused]] ssize_t ignored = write(wakePipe[1], &wake, 1);
    reader.join();
}

std::string Server::RawOutput() const {
    std::lock_guard<std::mutex> lock(mutex);
    return outputBytes;
}

std::string Server::Output() const {
    std::string raw = RawOutput();
    return outputIsTerminal ? UndoTerminalNewlines(raw) : raw;
}

std::string Server::Errors() const {
    std::lock_guard<std::mutex> lock(mutex);
    return errorBytes;
}

bool Server::WaitForOutput(const std::string& needle, double seconds) {
    if (WaitUntil([&] { return Output().find(needle) != std::string::npos; }, seconds)) return true;
    ADD_FAILURE() << "output never showed \"" << Printable(needle) << "\" within " << seconds
                  << " s; process " << (Running() ? "running" : status.Describe())
                  << "; output so far:\n"
                  << Printable(Output()) << "\nerrors so far:\n"
                  << Printable(Errors());
    return false;
}

bool Server::WaitForErrors(const std::string& needle, double seconds) {
    if (WaitUntil([&] { return Errors().find(needle) != std::string::npos; }, seconds)) return true;
    ADD_FAILURE() << "standard error never showed \"" << Printable(needle) << "\" within "
                  << seconds << " s; errors so far:\n"
                  << Printable(Errors());
    return false;
}

bool Server::SendKeys(const std::string& keys) {
    int fd = inputPipe >= 0 ? inputPipe : terminalMaster;
    if (fd < 0) return false;
    size_t done = 0;
    while (done < keys.size()) {
        ssize_t wrote = write(fd, keys.data() + done, keys.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

void Server::CloseInput() { CloseFd(inputPipe); }

void Server::PauseOutputReader() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        readerPauseOutput = true;
    }
    char wake = 1;
    [[maybe_unused]] ssize_t ignored = write(wakePipe[1], &wake, 1);
}

void Server::CloseOutputReader() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        readerDropOutput = true;
    }
    char wake = 1;
    [[maybe_unused]] ssize_t ignored = write(wakePipe[1], &wake, 1);
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(10), [&] { return outputPipe < 0; });
}

bool Server::Signal(int signalNumber) {
    if (pid <= 0 || status.ended) return false;
    if (signalNumber == SIGINT || signalNumber == SIGTERM || signalNumber == SIGHUP) {
        if (!WaitUntil([&] { return ProcessCatchesSignal(pid, signalNumber) || Reap(false); },
                       10)) {
            ADD_FAILURE() << "the server never installed a handler for signal " << signalNumber;
        }
        if (status.ended) return false;
    }
    return kill(pid, signalNumber) == 0;
}

bool Server::Reap(bool block) {
    if (status.ended) return true;
    if (pid <= 0) return false;
    int raw = 0;
    pid_t got;
    do {
        got = waitpid(pid, &raw, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != pid) return false;
    status.ended = true;
    if (WIFEXITED(raw)) status.code = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) status.signal = WTERMSIG(raw);
    return true;
}

bool Server::Running() { return pid > 0 && !Reap(false); }

// What each thread of a process is doing and which signals are pending, from /proc.
static std::string DescribeProcess(pid_t pid) {
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

bool Server::WaitExit(double seconds) {
    if (!WaitUntil([&] { return Reap(false); }, seconds)) {
        std::fprintf(stderr, "process %d has not ended after %.1f s:\n%s", static_cast<int>(pid),
                     seconds, DescribeProcess(pid).c_str());
        return false;
    }
    // The process is gone; collect what it wrote last. Pipes end with end-of-file; the terminal
    // (whose slave side the harness keeps open) is read until it has been quiet for a while.
    WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return (!outputOpen || readerPauseOutput) && !errorsOpen;
        },
        10);
    if (terminalMaster >= 0) {
        size_t seen = RawOutput().size() + Errors().size();
        auto quietSince = Clock::now();
        WaitUntil(
            [&] {
                size_t now = RawOutput().size() + Errors().size();
                if (now != seen) {
                    seen = now;
                    quietSince = Clock::now();
                }
                return Clock::now() - quietSince > std::chrono::milliseconds(150);
            },
            5);
    }
    return true;
}

bool Server::WaitForKeyMode(double seconds) {
    if (terminalSlave < 0) return false;
    bool ok = WaitUntil(
        [&] {
            termios mode{};
            if (tcgetattr(terminalSlave, &mode) != 0) return false;
            return (mode.c_lflag & (ICANON | ECHO)) == 0;
        },
        seconds);
    if (!ok) ADD_FAILURE() << "the terminal never went to non-canonical, no-echo mode";
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Sockets

UdpSender::UdpSender(int toPort) : port(toPort) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int room = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
}

UdpSender::~UdpSender() { CloseFd(fd); }

bool UdpSender::Send(const std::string& datagram) { return Send(datagram.data(), datagram.size()); }

bool UdpSender::Send(const char* data, size_t length) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    while (true) {
        ssize_t sent =
            sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent == static_cast<ssize_t>(length)) return true;
        if (sent < 0 && (errno == EINTR || errno == ENOBUFS || errno == EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        return false;
    }
}

// A UDP socket bound to `port` (0: any free one) on all local addresses, or -1.
static int BoundUdpSocket(int port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) CloseFd(fd);
    return fd;
}

int FreeUdpPort() {
    int fd = BoundUdpSocket(0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int port = -1;
    if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    CloseFd(fd);
    return port;
}

PortBlocker::PortBlocker(int port) : fd(BoundUdpSocket(port)) {}

PortBlocker::~PortBlocker() { CloseFd(fd); }

// ---------------------------------------------------------------------------------------------
// Folders and files

TempDir::TempDir() {
    char pattern[] = "/tmp/udptrail-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return;
    }
    path = pattern;
}

TempDir::~TempDir() {
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    if (path.empty()) return;
    std::error_code error;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path, error);
}

bool TempDir::MountTmpfs(const std::string& dir, long sizeBytes, bool readOnly) {
    mkdir(dir.c_str(), 0755);
    std::string data = "size=" + std::to_string(sizeBytes) + ",mode=0755";
    if (mount("tmpfs", dir.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, data.c_str()) != 0) {
        return false;
    }
    mounts.push_back(dir);
    return true;
}

bool TempDir::Remount(const std::string& dir, bool readOnly) {
    unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return mount("tmpfs", dir.c_str(), "tmpfs", flags, nullptr) == 0;
}

std::vector<std::string> LogFileNames(const std::string& dir) {
    static const std::regex name("udplog_[0-9]{14}\\.log");
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        std::string file = entry.path().filename().string();
        if (std::regex_match(file, name)) names.push_back(file);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string ReadLogs(const std::string& dir) {
    std::string all;
    for (const auto& name : LogFileNames(dir)) all += ReadFile(dir + "/" + name);
    return all;
}

bool WaitForLogs(const std::string& dir, const std::string& text, double seconds) {
    auto found = [&] { return ReadLogs(dir).find(text) != std::string::npos; };
    if (WaitUntil(found, seconds)) return true;
    ADD_FAILURE() << "the log files never held \"" << Printable(text) << "\" within " << seconds
                  << " s; they hold:\n"
                  << Printable(ReadLogs(dir));
    return false;
}

std::string StripCsi(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            size_t j = i + 2;
            while (j < text.size() && static_cast<unsigned char>(text[j]) >= 0x20 &&
                   static_cast<unsigned char>(text[j]) <= 0x3f) {
                ++j;
            }
            if (j < text.size()) {
                i = j;  // skips the final byte too
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::vector<std::string> SplitRecords(const std::string& text) {
    std::vector<std::string> records;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            records.push_back(text.substr(start));
            break;
        }
        records.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return records;
}

bool HasTimePrefix(const std::string& record) {
    if (record.size() < 8 || record[6] != ':' || record[7] != ' ') return false;
    for (int i = 0; i < 6; ++i) {
        if (record[i] < '0' || record[i] > '9') return false;
    }
    int hour = std::stoi(record.substr(0, 2));
    int minute = std::stoi(record.substr(2, 2));
    int second = std::stoi(record.substr(4, 2));
    return hour < 24 && minute < 60 && second <= 60;
}

int CountOccurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// /proc

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

UdpSocketStats ReadUdpSocketStats(int port) {
    UdpSocketStats stats;
    std::istringstream table(ReadFile("/proc/net/udp"));
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> values;
        std::string value;
        while (fields >> value) values.push_back(value);
        if (values.size() < 13) continue;
        const std::string& local = values[1];
        if (local.size() < 5 || local.compare(local.size() - 5, 5, wanted) != 0) continue;
        size_t colon = values[4].find(':');
        stats.found = true;
        stats.receiveQueueBytes = std::stol(values[4].substr(colon + 1), nullptr, 16);
        stats.drops = std::stol(values[12]);
        return stats;
    }
    return stats;
}

// ---------------------------------------------------------------------------------------------
// Expected texts

std::string ExpectedBanner(const std::string& folder, const std::string& maxFileSize,
                           const std::string& retentionDays, const std::string& port) {
    return " " + std::string(73, '=') + "\n" +
           "|                        UDP Trace logging                                |\n"
           "|_________________________________________________________________________|\n"
           "\tLog file name: udplog_YYYYMMDDHHMMSS.log\n"
           "\tLog folder: " +
           folder + " \n" + "\tMax file size: " + maxFileSize + "\n" +
           "\tRetention period: " + retentionDays + " days\n" +
           "\tPress 'q' to quit the program!!!\n" + "\nStart listening port:" + port + "...\n\n";
}

std::string ClosingLines() {
    return std::string(80, '=') + "\r\n" + " The program terminate!!! \r\n";
}

std::string WithoutFinalStatistics(const std::string& text) {
    size_t start = text.rfind("udptrail stats: received=");
    bool last = start != std::string::npos && text.find('\n', start) == text.size() - 1;
    EXPECT_TRUE(last) << "no statistics line at the end:\n" << text;
    return last ? text.substr(0, start) : text;
}

std::string UsageText() {
    return "Usage: udptrail Port <debugFolder: default: current folder> <logFileSize> <log "
           "retention days: default30 day>\r\n"
           "       E.g. udptrail 12345 \"c:\\temp\" \r\n"
           "       Press \"q\" to quit the progam!\r\n";
}

std::string CompareTermios(const termios& before, const termios& after) {
    std::ostringstream diff;
    auto compare = [&](const std::string& name, unsigned long was, unsigned long is) {
        if (was != is) diff << name << " " << was << " -> " << is << "; ";
    };
    compare("c_iflag", before.c_iflag, after.c_iflag);
    compare("c_oflag", before.c_oflag, after.c_oflag);
    compare("c_cflag", before.c_cflag, after.c_cflag);
    compare("c_lflag", before.c_lflag, after.c_lflag);
    for (int i = 0; i < NCCS; ++i) {
        compare("c_cc[" + std::to_string(i) + "]", before.c_cc[i], after.c_cc[i]);
    }
    return diff.str();
}

// ---------------------------------------------------------------------------------------------
// Steps the tests share

std::string Line(const std::string& text, char marker) { return marker + text + "\n"; }

void WaitForQueueBelow(int port, long bytes, double seconds) {
    WaitUntil([&] { return ReadUdpSocketStats(port).receiveQueueBytes < bytes; }, seconds);
}

void ExpectNoRawControls(const std::string& raw, std::initializer_list<const char*> forbidden) {
    EXPECT_EQ(CountOccurrences(raw, "\x1b[2J"), 1)
        << "only the start-up clear may reach the terminal";
    for (const char* sequence : forbidden) {
        EXPECT_EQ(raw.find(sequence), std::string::npos)
            << "raw control sequence reached the terminal: " << Printable(sequence);
    }
}

void PrintTo(WayOut way, std::ostream* out) { *out << (way == QKey ? "q" : "SIGTERM"); }

bool AskToEnd(Server& server, int signalNumber) {
    return signalNumber == QKey ? server.SendKeys("q") : server.Signal(signalNumber);
}

void Quit(Server& server, int signalNumber) {
    ASSERT_TRUE(AskToEnd(server, signalNumber));
    ASSERT_TRUE(server.WaitExit(15))
        << "no exit after " << (signalNumber == QKey ? "q" : sigabbrev_np(signalNumber));
    EXPECT_EQ(server.Status().code, 0) << server.Status().Describe();
}

void RunToEnd(Server& server, const LaunchOptions& options, int expectedCode) {
    ASSERT_TRUE(server.Start(options));
    ASSERT_TRUE(server.WaitExit(10));
    EXPECT_EQ(server.Status().code, expectedCode) << server.Status().Describe();
}

bool ServerTest::Listen(Console console, const std::vector<std::string>& args,
                        long outputBytesPerSecond) {
    std::vector<std::string> all{std::to_string(port)};
    all.insert(all.end(), args.begin(), args.end());
    LaunchOptions options = MakeOptions(all, dir.Path(), console);
    options.outputBytesPerSecond = outputBytesPerSecond;
    return server.Start(options) &&
           server.WaitForOutput("Start listening port:" + std::to_string(port) + "...\n\n");
}

bool ServerTest::Show(const std::string& text, char marker) {
    return sender.Send(Line(text, marker)) &&
           server.WaitForOutput(server.OutputIsTerminal() ? text : text + "\n");
}

std::string ServerTest::DefaultBanner() const {
    return ExpectedBanner(dir.Path(), "2048", "30", std::to_string(port));
}

}  // namespace e2e
