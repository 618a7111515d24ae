// Test harness that runs the real udptrail binary: a pseudo-terminal or pipes for its standard
// streams, output captured with time-outs, keys, signals, UDP datagrams to 127.0.0.1, temporary
// folders, and readers for its log files and its process statistics.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>

#include <csignal>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

/// Path of the server under test.
const char* ServerBinary();

/// Polls `condition` every few milliseconds until it holds or `seconds` have passed.
bool WaitUntil(const std::function<bool()>& condition, double seconds);

/// What one of the server's standard streams is connected to.
enum class Stream {
    Terminal,  // the slave side of a pseudo-terminal shared by every stream that asks for it
    Pipe,      // a pipe to or from the harness
    Null,      // /dev/null
};

struct LaunchOptions {
    std::string program;            // the program to run; empty runs the server
    std::vector<std::string> args;  // arguments after the program name
    std::string workDir;            // working directory; empty keeps the harness's own
    Stream input = Stream::Terminal;
    Stream output = Stream::Terminal;
    Stream errors = Stream::Terminal;
    long outputBytesPerSecond =
        0;  // reads the output at most this fast (a slow console); 0: at once
};

/// The ways the tests connect the three standard streams.
enum class Console {
    Terminal,  // all three on one pseudo-terminal
    Pipes,     // each a pipe to or from the harness
    Headless,  // input from /dev/null, output and errors to pipes (as under a service manager)
};

/// Options with the given arguments, working directory and standard streams.
LaunchOptions MakeOptions(std::vector<std::string> args, const std::string& workDir,
                          Console console);

/// How the process ended.
struct ExitStatus {
    bool ended = false;
    int code = -1;   // exit status when it exited normally, else -1
    int signal = 0;  // the signal that killed it, else 0
    std::string Describe() const;
};

/// One running udptrail process. The destructor kills it if it is still running.
class Server {
  public:
    Server() = default;
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// Starts the binary; false (with a gtest failure) if it could not be started.
    bool Start(const LaunchOptions& options);

    pid_t Pid() const { return pid; }

    /// Everything written to the pseudo-terminal or the output pipe so far, as received.
    std::string RawOutput() const;

    /// As RawOutput, but with the terminal's own output processing undone (the CR that the
    /// terminal puts before each LF is removed), so it holds the bytes the program wrote.
    std::string Output() const;

    /// Everything written to the error pipe so far (empty unless errors were a pipe).
    std::string Errors() const;

    /// Waits until Output() contains `needle`; on time-out adds a gtest failure showing the output.
    bool WaitForOutput(const std::string& needle, double seconds = 10);
    bool WaitForErrors(const std::string& needle, double seconds = 10);

    /// Writes `keys` to the terminal or the input pipe.
    bool SendKeys(const std::string& keys);

    /// Closes the input pipe, so the server sees the end of its input.
    void CloseInput();

    /// Stops reading the output pipe and closes it, as a console reader that went away.
    void CloseOutputReader();

    /// Stops reading the output pipe but keeps it open, as a console reader that hangs.
    void PauseOutputReader();

    /// Sends a signal. For a signal the server handles, first waits until its handler is in
    /// place (it is installed during start-up, some time after the listening line).
    bool Signal(int signalNumber);

    bool OutputIsTerminal() const { return outputIsTerminal; }

    /// Waits for the process to end; once it has, waits for the rest of its output too.
    bool WaitExit(double seconds);
    bool Running();
    const ExitStatus& Status() const { return status; }

    /// The harness's copy of the terminal's slave side (for termios), or -1.
    int TerminalFd() const { return terminalSlave; }

    /// The terminal's mode as the harness made it, before the server started.
    const termios& InitialTerminalMode() const { return initialMode; }

    /// Waits until the terminal is in non-canonical, no-echo mode (the server's key mode).
    bool WaitForKeyMode(double seconds = 10);

  private:
    void ReaderLoop();
    void StopReader();
    bool Reap(bool block);

    pid_t pid = -1;
    ExitStatus status;
    bool outputIsTerminal = false;
    bool errorsIsTerminal = false;
    long outputBytesPerSecond = 0;
    int terminalMaster = -1;
    int terminalSlave = -1;
    termios initialMode{};
    int inputPipe = -1;
    int outputPipe = -1;
    int errorPipe = -1;
    int wakePipe[2] = {-1, -1};

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string outputBytes;
    std::string errorBytes;
    bool outputOpen = false;
    bool errorsOpen = false;
    bool readerStop = false;
    bool readerDropOutput = false;
    bool readerPauseOutput = false;
    std::thread reader;
};

/// A socket that sends datagrams to 127.0.0.1:port.
class UdpSender {
  public:
    explicit UdpSender(int port);
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;
    bool Send(const std::string& datagram);
    bool Send(const char* data, size_t length);

  private:
    int fd = -1;
    int port = 0;
};

/// A UDP port that was free a moment ago (bound to port 0, read, closed).
int FreeUdpPort();

/// A socket bound to all local addresses on `port`, kept until destruction.
class PortBlocker {
  public:
    explicit PortBlocker(int port);
    ~PortBlocker();
    bool Bound() const { return fd >= 0; }

  private:
    int fd = -1;
};

/// A fresh folder under /tmp, removed with everything in it (and anything mounted in it).
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string Sub(const std::string& name) const { return path + "/" + name; }

    /// Mounts a tmpfs of `sizeBytes` at `dir` (created if missing), read-only if asked. False when
    /// mounting is not permitted here.
    bool MountTmpfs(const std::string& dir, long sizeBytes, bool readOnly);
    bool Remount(const std::string& dir, bool readOnly);

  private:
    std::string path;
    std::vector<std::string> mounts;
};

/// Names of the files udplog_YYYYMMDDHHMMSS.log directly in `dir`, sorted.
std::vector<std::string> LogFileNames(const std::string& dir);

/// The contents of every log file in `dir`, in name order.
std::string ReadLogs(const std::string& dir);

/// Waits until the log files in `dir` hold `text`; on time-out adds a gtest failure showing them.
bool WaitForLogs(const std::string& dir, const std::string& text, double seconds = 10);

std::string ReadFile(const std::string& path);

/// `text` without CSI escape sequences (ESC [ parameters final-byte).
std::string StripCsi(const std::string& text);

/// Splits `text` after every LF; a last piece without LF is kept as it is.
std::vector<std::string> SplitRecords(const std::string& text);

/// True when `record` starts with a time prefix "HHMMSS: " of a valid time of day.
bool HasTimePrefix(const std::string& record);

int CountOccurrences(const std::string& text, const std::string& needle);

/// CPU time (user + system) the process has used, in seconds; -1 if unknown.
double ProcessCpuSeconds(pid_t pid);

/// True when the process has a handler installed for `signalNumber`.
bool ProcessCatchesSignal(pid_t pid, int signalNumber);

/// Resident set size of the process in KiB; -1 if unknown.
long ProcessRssKb(pid_t pid);

/// The kernel's counters for the IPv4 UDP socket bound to `port`.
struct UdpSocketStats {
    bool found = false;
    long receiveQueueBytes = 0;
    long drops = 0;
};
UdpSocketStats ReadUdpSocketStats(int port);

/// The settings banner and listening line the server prints at start-up, byte for byte.
std::string ExpectedBanner(const std::string& folder, const std::string& maxFileSize,
                           const std::string& retentionDays, const std::string& port);

/// The two closing lines printed on the way out.
std::string ClosingLines();

/// `text` without the statistics line written last on the way out ("udptrail stats: ...\n"),
/// which must be there; on a terminal it follows the closing lines, as standard error shares it.
std::string WithoutFinalStatistics(const std::string& text);

/// The three usage lines.
std::string UsageText();

/// Compares two terminal modes field by field; empty when equal, else what differs.
std::string CompareTermios(const termios& before, const termios& after);

/// A datagram holding one line: the colour marker, the text and a line feed.
std::string Line(const std::string& text, char marker = '\xe7');

/// Waits (up to `seconds`) until the kernel holds fewer than `bytes` for the socket on `port`,
/// so that a test's pacing keeps its receive queue far from the limit.
void WaitForQueueBelow(int port, long bytes, double seconds = 10);

/// Checks that the only clear-screen in the terminal's raw output is the start-up one, and that
/// none of the `forbidden` sequences reached it.
void ExpectNoRawControls(const std::string& raw, std::initializer_list<const char*> forbidden);

/// How a test ends the server: the q key, or a signal (the value is the signal's number).
enum WayOut : int { QKey = 0, Sigterm = SIGTERM };
void PrintTo(WayOut way, std::ostream* out);

/// Asks the server to end: with the q key when `signalNumber` is 0, else with that signal.
bool AskToEnd(Server& server, int signalNumber = QKey);

/// Asks the server to end and checks that it exits with status 0 within 15 s.
void Quit(Server& server, int signalNumber = QKey);

/// Starts a run that ends by itself and checks its exit status once it has ended, within 10 s.
void RunToEnd(Server& server, const LaunchOptions& options, int expectedCode);

/// A test of one server: a fresh folder it runs in, a free port, and a sender to that port.
class ServerTest : public ::testing::Test {
  protected:
    /// Starts `udptrail <port> <args...>` in the folder and waits for its listening line.
    bool Listen(Console console, const std::vector<std::string>& args = {},
                long outputBytesPerSecond = 0);

    /// Sends `text` as a line and waits until the console shows it: with its line feed off a
    /// terminal; on one only the text, as the colour's reset comes before the line feed.
    bool Show(const std::string& text, char marker = '\xe7');

    /// The banner of a server given only the port, or the folder it runs in as well.
    std::string DefaultBanner() const;

    TempDir dir;
    int port = FreeUdpPort();
    Server server;
    UdpSender sender{port};
};

}  // namespace e2e
