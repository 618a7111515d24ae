// udptrail-send and udptrail_client.h on the wire, and both against the real server: started
// headless (standard input at end of file), fed lines, stopped by SIGTERM, its log files read.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "udptrail_client.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(30);  // generous: the machine is shared

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

struct TempFolder {
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "udptrail-eco-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// A child process with standard input from a file and its output captured in files of `folder`.
class Child {
  public:
    bool Start(const std::vector<std::string>& args, const std::string& folder,
               const std::string& input = "/dev/null") {
        static int serial = 0;
        outPath = folder + "/stdout." + std::to_string(++serial);
        errPath = folder + "/stderr." + std::to_string(serial);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid > 0;
    }

    bool Running() {
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, WNOHANG) != pid) return pid > 0;
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid = -1;
        return false;
    }

    /// Waits for the end; the exit status, or -1 after a signal or when the patience ran out.
    int Wait() {
        for (auto deadline = Clock::now() + kPatience; Running() && Clock::now() < deadline;)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Running() ? -1 : exitCode;
    }

    ~Child() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }

    std::string Out() const { return ReadFile(outPath); }
    std::string Err() const { return ReadFile(errPath); }

    pid_t pid = -1;
    int exitCode = -1;

  private:
    std::string outPath, errPath;
};

struct Outcome {
    int exitCode;
    std::string out, err;
};

Outcome RunToEnd(const std::vector<std::string>& args, const std::string& folder,
                 const std::string& input = "/dev/null") {
    Child child;
    if (!child.Start(args, folder, input)) return {-1, "", "could not start " + args[0]};
    int code = child.Wait();
    return {code, child.Out(), child.Err()};
}

// A UDP socket on 127.0.0.1 that stands in for the server and shows the datagrams themselves.
class Catcher {
  public:
    Catcher() {
        handle = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(handle, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
    }
    ~Catcher() { close(handle); }

    /// The next datagram, or "<none>" if none came within the patience.
    std::string Next() {
        pollfd ready{handle, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) != 1)
            return "<none>";
        char buffer[2048];
        ssize_t length = recv(handle, buffer, sizeof buffer, 0);
        return length < 0 ? "<error>" : std::string(buffer, static_cast<size_t>(length));
    }

    std::string Target() const { return "127.0.0.1:" + std::to_string(port); }

    int handle = -1;
    int port = 0;
};

// A port nothing listens on: the system hands one out, and it is released at once.
int FreePort() { return Catcher().port; }

// True once some process has an IPv4 UDP socket bound to `port`.
bool PortBound(int port) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ":%04X", port);
    std::istringstream table(ReadFile("/proc/net/udp"));
    std::string line, slot, local;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        if (fields >> slot >> local && local.size() > 5 && local.substr(local.size() - 5) == suffix)
            return true;
    }
    return false;
}

// Every record of every log file in `folder`, files in name (that is, time) order.
std::vector<std::string> LogRecords(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("udplog_", 0) == 0 && entry.path().extension() == ".log")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> records;
    for (const auto& file : files) {
        std::istringstream content(ReadFile(file));
        std::string record;
        while (std::getline(content, record)) records.push_back(record);
    }
    return records;
}

bool IsTimePrefixed(const std::string& record) {
    return record.size() >= 8 && record.compare(6, 2, ": ") == 0 &&
           std::all_of(record.begin(), record.begin() + 6,
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The records' texts, after their time prefixes.
std::vector<std::string> Texts(const std::vector<std::string>& records) {
    std::vector<std::string> texts;
    for (const std::string& record : records)
        texts.push_back(record.substr(std::min<size_t>(8, record.size())));
    return texts;
}

TEST(SenderOnTheWire, EachTextOrInputLineIsOneDatagramWithItsMarker) {
    TempFolder folder;
    Catcher catcher;
    ASSERT_NE(catcher.port, 0);

    Outcome run = RunToEnd(
        {UDPTRAIL_SEND_BINARY, "-c", "green-on-blue", catcher.Target(), "boot ok", "-5 degrees"},
        folder.path);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(),
              "\xF2"
              "boot ok\n");
    EXPECT_EQ(catcher.Next(), "\xF2-5 degrees\n");

    WriteFile(folder.path + "/input", "first\n\nlast without line feed");
    run = RunToEnd({UDPTRAIL_SEND_BINARY, catcher.Target()}, folder.path, folder.path + "/input");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(),
              "\xE7"
              "first\n");
    EXPECT_EQ(catcher.Next(), "\xE7\n");
    EXPECT_EQ(catcher.Next(), "\xE7last without line feed\n");

    run = RunToEnd(
        {UDPTRAIL_SEND_BINARY, "-c", "0xec", "localhost:" + std::to_string(catcher.port), "x"},
        folder.path);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(), "\xECx\n");
}

TEST(SenderOnTheWire, BadInputGivesAClearMessageAndItsExitCode) {
    TempFolder folder;
    Outcome run =
        RunToEnd({UDPTRAIL_SEND_BINARY, "-c", "purple", "127.0.0.1:5000", "x"}, folder.path);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown colour 'purple'"), std::string::npos) << run.err;

    for (const char* target : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", ":5000"}) {
        run = RunToEnd({UDPTRAIL_SEND_BINARY, target, "x"}, folder.path);
        EXPECT_EQ(run.exitCode, 2) << target;
        EXPECT_NE(run.err.find(std::string("bad address '") + target + "'"), std::string::npos)
            << run.err;
    }

    run = RunToEnd({UDPTRAIL_SEND_BINARY}, folder.path);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("HOST:PORT is missing"), std::string::npos) << run.err;
    run = RunToEnd({UDPTRAIL_SEND_BINARY, "-x", "127.0.0.1:5000"}, folder.path);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("unknown option '-x'"), std::string::npos) << run.err;

    run = RunToEnd({UDPTRAIL_SEND_BINARY, "-h"}, folder.path);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("Usage: udptrail-send [-c COLOUR] HOST:PORT [TEXT...]\n", 0), 0u)
        << run.out;
}

TEST(SenderOnTheWire, APortWithNoListenerIsReported) {
    TempFolder folder;
    int port = FreePort();
    ASSERT_NE(port, 0);
    // The refusal comes back for an earlier datagram, so several lines give it time to arrive.
    std::vector<std::string> args{UDPTRAIL_SEND_BINARY, "127.0.0.1:" + std::to_string(port)};
    for (int i = 0; i < 50; ++i) args.push_back("line " + std::to_string(i));
    Outcome run = RunToEnd(args, folder.path);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("refused a line: is udptrail listening there?"), std::string::npos)
        << run.err;
}

TEST(ClientHeader, SendsFormattedLinesWithTheirMarker) {
    TempFolder folder;
    Catcher catcher;
    Outcome run = RunToEnd(
        {UDPTRAIL_CLIENT_EXAMPLE, "127.0.0.1", std::to_string(catcher.port), "50%"}, folder.path);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(catcher.Next(), "\xEAline 1: 50%\n");

    int sender = UdpTrailOpen("127.0.0.1", catcher.port);
    ASSERT_GE(sender, 0);
    EXPECT_EQ(UdpTrailSend(sender, UDPTRAIL_YELLOW | UDPTRAIL_ON_BLUE, "a=%d\nb=%s\n", 1, "two"),
              0);
    EXPECT_EQ(catcher.Next(),
              "\xFE"
              "a=1\n");
    EXPECT_EQ(catcher.Next(),
              "\xFE"
              "b=two\n");
    const std::string longText(2000, 'z');
    EXPECT_EQ(UdpTrailSend(sender, UDPTRAIL_NORMAL, "%s", longText.c_str()), 0);
    EXPECT_EQ(catcher.Next(), "\xE7" + longText.substr(0, 1022) + "\n");
    UdpTrailClose(sender);

    EXPECT_EQ(UdpTrailOpen("127.0.0.1", 0), -1);
    EXPECT_EQ(UdpTrailOpen("127.0.0.1", 65536), -1);
}

TEST(AgainstTheServer, LinesFromTheSenderAndTheHeaderReachTheLogFile) {
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const std::string logs = folder.path + "/logs";
    ASSERT_TRUE(std::filesystem::create_directory(logs));

    // Headless, as under the service unit: standard input at end of file, stopped by a signal.
    int port = FreePort();
    Child server;
    ASSERT_TRUE(server.Start({UDPTRAIL_BINARY, std::to_string(port), logs}, folder.path));
    auto deadline = Clock::now() + kPatience;
    while (!PortBound(port) && server.Running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(PortBound(port)) << "server did not bind port " << port << "\n" << server.Out();

    const std::string target = "127.0.0.1:" + std::to_string(port);
    Outcome run = RunToEnd(
        {UDPTRAIL_SEND_BINARY, "-c", "red", target, "from the shell", "100% sure"}, folder.path);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    WriteFile(folder.path + "/input", "piped one\npiped two\n");
    run = RunToEnd({UDPTRAIL_SEND_BINARY, target}, folder.path, folder.path + "/input");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    run = RunToEnd({UDPTRAIL_CLIENT_EXAMPLE, "127.0.0.1", std::to_string(port), "from C"},
                   folder.path);
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const std::vector<std::string> expected{"from the shell", "100% sure", "piped one", "piped two",
                                            "line 1: from C"};
    std::vector<std::string> records;
    for (deadline = Clock::now() + kPatience; Clock::now() < deadline;) {
        records = LogRecords(logs);
        if (records.size() >= expected.size()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(server.Running()) << "a headless server must run until it is stopped";

    ASSERT_EQ(kill(server.pid, SIGTERM), 0);
    EXPECT_EQ(server.Wait(), 0) << server.Out() << server.Err();

    // Each sender's lines arrive in its own order; the three senders ran one after the other.
    EXPECT_EQ(Texts(records), expected);
    for (const std::string& record : records) EXPECT_TRUE(IsTimePrefixed(record)) << record;
}

}  // namespace
