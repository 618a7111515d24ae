// Runs the real udptrail binary (or another program): a pseudo-terminal, pipes or /dev/null for its
// standard streams, output captured with time-outs, keys, signals and the end of the process.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

/// Path of the server under test.
const char* ServerBinary();

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

    /// Stops reading the output pipe but keeps it open, as a console reader that hangs; with
    /// `paused` false, reads it again.
    void PauseOutputReader(bool paused = true);

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

/// Compares two terminal modes field by field; empty when equal, else what differs.
std::string CompareTermios(const termios& before, const termios& after);

}  // namespace testing_support
