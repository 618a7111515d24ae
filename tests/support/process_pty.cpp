// Runs a program (the server unless told otherwise) with its standard streams on a pseudo-terminal,
// pipes or /dev/null, reads what it writes on a thread of its own, and ends it.
#include "support/process_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "support/expected_text.h"
#include "support/fd.h"
#include "support/proc.h"
#include "support/wait.h"

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

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
        bool readOutput;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (readerStop) break;
            if (readerDropOutput && outputPipe >= 0) {
                CloseFd(outputPipe);
                outputOpen = false;
                changed.notify_all();
            }
            outputFd = outputPipe;
            readOutput = outputOpen && !readerPauseOutput;
        }
        fds[count++] = {wakePipe[0], POLLIN, 0};
        if (terminalMaster >= 0) fds[count++] = {terminalMaster, POLLIN, 0};
        if (outputFd >= 0 && readOutput) fds[count++] = {outputFd, POLLIN, 0};
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

void Server::PauseOutputReader(bool paused) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        readerPauseOutput = paused;
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

}  // namespace testing_support
