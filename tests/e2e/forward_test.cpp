// End-to-end: --forward against a real rsyslog run by the test (unprivileged, its own
// configuration in a temporary folder, inputs on loopback ports, every raw message into a file).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/server_test.h"
#include "support/expected_text.h"
#include "support/files.h"
#include "support/process_pty.h"
#include "support/udp.h"
#include "support/wait.h"

using namespace testing_support;

namespace {

const char* RsyslogBinary() {
    for (const char* path : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd"}) {
        if (access(path, X_OK) == 0) return path;
    }
    return nullptr;
}

int FreeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool TcpPortListening(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return listening;
}

// One rsyslog with a UDP and a TCP input, each writing the raw messages it takes, one a line, to
// its own file.
class Rsyslog {
  public:
    explicit Rsyslog(const TempDir& dir) : folder(dir.File("rsyslog")) {
        mkdir(folder.c_str(), 0700);
        std::ofstream(folder + "/rsyslog.conf")
            << "global(workDirectory=\"" << folder << "\")\n"
            << "module(load=\"imudp\")\nmodule(load=\"imtcp\")\n"
            << "template(name=\"raw\" type=\"string\" string=\"%rawmsg%\\n\")\n"
            << "ruleset(name=\"udp\") { action(type=\"omfile\" file=\"" << UdpFile()
            << "\" template=\"raw\") }\n"
            << "ruleset(name=\"tcp\") { action(type=\"omfile\" file=\"" << TcpFile()
            << "\" template=\"raw\") }\n"
            << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << udpPort << "\" ruleset=\"udp\")\n"
            << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << tcpPort << "\" ruleset=\"tcp\")\n";
    }

    bool Start() {
        process = std::make_unique<Server>();
        LaunchOptions options = MakeOptions({"-n", "-f", folder + "/rsyslog.conf", "-i", folder + "/pid"},
                                            folder, Console::Headless);
        options.program = RsyslogBinary();
        return process->Start(options) && WaitUntil([&] { return TcpPortListening(tcpPort); }, 10);
    }

    void Stop() {
        process->Signal(SIGTERM);
        EXPECT_TRUE(process->WaitExit(10)) << "rsyslog did not stop";
    }

    std::string UdpFile() const { return folder + "/udp.log"; }
    std::string TcpFile() const { return folder + "/tcp.log"; }

    std::string folder;
    int udpPort = FreeUdpPort();
    int tcpPort = FreeTcpPort();
    std::unique_ptr<Server> process;
};

std::vector<std::string> Messages(const std::string& file) {
    std::vector<std::string> messages;
    for (std::string record : SplitRecords(ReadFile(file))) {
        if (!record.empty() && record.back() == '\n') record.pop_back();
        messages.push_back(record);
    }
    return messages;
}

bool WaitForMessages(const std::string& file, size_t count, double seconds = 20) {
    bool arrived = WaitUntil([&] { return Messages(file).size() >= count; }, seconds);
    EXPECT_TRUE(arrived) << Messages(file).size() << " of " << count << " messages in " << file;
    return arrived;
}

std::string Numbered(int number) { return "line " + std::to_string(number); }

// The MSG parts of the messages, in order.
std::vector<std::string> Texts(const std::vector<std::string>& messages) {
    const std::regex header(R"(^<\d+>1 \S+ \S+ udptrail - - (-|\[[^\]]*\]) )");
    std::vector<std::string> texts;
    std::smatch match;
    for (const std::string& message : messages)
        texts.push_back(std::regex_search(message, match, header) ? match.suffix().str() : message);
    return texts;
}

// Sends numbered lines first..last-1 to the server, paced so that its socket never overflows.
void SendNumbered(UdpSender& sender, int port, int first, int last) {
    for (int i = first; i < last; ++i) {
        ASSERT_TRUE(sender.Send(Line(Numbered(i))));
        if (i % 200 == 199) WaitForQueueBelow(port, 64 * 1024);
    }
}

class Forward : public ServerTest {
  protected:
    void SetUp() override {
        if (RsyslogBinary() == nullptr) GTEST_SKIP() << "rsyslogd not installed";
        ASSERT_TRUE(rsyslog.Start());
    }
    Rsyslog rsyslog{dir};
};

TEST_F(Forward, NumberedLinesArriveWholeAndInOrderOverUdpAndTcp) {
    std::string udp = "udp://127.0.0.1:" + std::to_string(rsyslog.udpPort);
    std::string tcp = "tcp://localhost:" + std::to_string(rsyslog.tcpPort);
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--forward", udp, "--forward=" + tcp,
                                        "--forward-facility", "local3"}));
    EXPECT_NE(server.Output().find("\tForward to: " + udp + "\n\tForward to: " + tcp + "\n"),
              std::string::npos);

    // Each colour marker with the severity it stands for; the text holds what structured data
    // would have to escape, and ends in CR LF.
    const std::vector<std::pair<char, int>> markers = {
        {'\xfc', 2}, {'\xec', 3}, {'\xee', 4}, {'\xeb', 5}, {'\xe8', 7}, {'\xe7', 6}, {'A', 6}};
    const int count = 140;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(sender.Send(std::string(1, markers[i % markers.size()].first) + Numbered(i) +
                                " \"q\" ]\\\r\n"));
    }
    ASSERT_TRUE(WaitForMessages(rsyslog.UdpFile(), count));
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), count));

    const std::regex whole(
        R"(^<(\d+)>1 \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d [!-~]+ udptrail - - )"
        R"((\[origin ip="127\.0\.0\.1"\]) (.*)$)");
    for (const std::string& file : {rsyslog.UdpFile(), rsyslog.TcpFile()}) {
        std::vector<std::string> messages = Messages(file);
        ASSERT_EQ(messages.size(), static_cast<size_t>(count)) << file;
        for (int i = 0; i < count; ++i) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(messages[i], match, whole)) << file << ": " << messages[i];
            EXPECT_EQ(std::stoi(match[1]), 19 * 8 + markers[i % markers.size()].second) << messages[i];
            EXPECT_EQ(match[3].str(), Numbered(i) + " \"q\" ]\\") << messages[i];
        }
    }
    Quit(server);
    EXPECT_EQ(WithoutFinalStatistics(server.Errors()), "");
}

// --syslog --forward: each message reaches the collector with its own header, the console shows
// `HOSTNAME APP[PROCID]: MSG`, the log file keeps the bytes as received.
TEST_F(Forward, SyslogMessagesAreRelayedAsTheirSendersSentThem) {
    if (access("/usr/bin/logger", X_OK) != 0) GTEST_SKIP() << "logger not installed";
    ASSERT_TRUE(server.Start(MakeOptions({std::to_string(port), dir.Path(), "--syslog", "--forward",
                                          "tcp://127.0.0.1:" + std::to_string(rsyslog.tcpPort)},
                                         dir.Path(), Console::Pipes)));
    ASSERT_TRUE(server.WaitForOutput("Mode: syslog (one message per datagram)\n\n"));
    const std::string to = " -n 127.0.0.1 -P " + std::to_string(port) + " ";
    ASSERT_EQ(std::system(("logger --rfc5424 -p local0.warning -t app5 --id=4242" + to + "'five 424'").c_str()), 0);
    ASSERT_EQ(std::system(("logger --rfc3164 -p local3.err -t app3 --id=77" + to + "'three 164'").c_str()), 0);
    ASSERT_EQ(std::system(("python3 -c 'import logging.handlers as h, logging; l = logging.getLogger(); "
                           "l.addHandler(h.SysLogHandler((\"127.0.0.1\", " + std::to_string(port) +
                           "))); l.warning(\"from python\")'").c_str()), 0);
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), 3));
    ASSERT_TRUE(server.WaitForOutput(": from python\n"));
    Quit(server);

    const std::vector<std::string> relayed = Messages(rsyslog.TcpFile());
    const std::string origin = R"( \S* ?\[origin ip="127\.0\.0\.1"\] )";
    const std::regex expected[] = {
        std::regex(R"(^<132>1 \d{4}-\d\d-\d\dT\S+ [!-~]+ app5 4242 - \[timeQuality[^\]]*\]\[origin ip="127\.0\.0\.1"\] five 424$)"),
        std::regex(R"(^<155>1 \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d [!-~]+ app3 77 - \[origin ip="127\.0\.0\.1"\] three 164$)"),
        std::regex(R"(^<12>1 \S+ 127\.0\.0\.1 - - - \[origin ip="127\.0\.0\.1"\] from python$)")};
    ASSERT_EQ(relayed.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::regex_match(relayed[i], expected[i])) << relayed[i];

    const std::string output = server.Output();
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(\d{6}: [!-~]+ app5\[4242\]: five 424\n)"))) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(\d{6}: [!-~]+ app3\[77\]: three 164\n)"))) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(\d{6}: from python\n)"))) << output;
    const std::string logs = ReadLogs(dir.Path());
    EXPECT_NE(logs.find("<132>1 "), std::string::npos);
    EXPECT_NE(logs.find("app3[77]: three 164"), std::string::npos);
    EXPECT_NE(logs.find(": <12>from python\n"), std::string::npos);
}

TEST_F(Forward, TcpCollectorRestartLosesNothingThatFitsTheQueueAndCountsTheRest) {
    ASSERT_TRUE(Listen(Console::Pipes,
                       {dir.Path(), "--forward", "tcp://127.0.0.1:" + std::to_string(rsyslog.tcpPort)}));
    const int before = 100;
    const int queue = 10000;
    const int beyond = 500;
    const int after = 100;
    const int total = before + queue + beyond + after;

    SendNumbered(sender, port, 0, before);
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), before));
    rsyslog.Stop();
    SendNumbered(sender, port, before, before + queue + beyond);
    ASSERT_TRUE(server.WaitForOutput("messages dropped (collector unreachable)"));
    ASSERT_TRUE(server.WaitForOutput(": cannot connect (Connection refused); retrying\n"));
    ASSERT_TRUE(rsyslog.Start());
    ASSERT_TRUE(server.WaitForOutput(": connected; 10000 queued messages being sent\n"));
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), before + queue));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // a message's room is given back a moment after its acknowledgement
    SendNumbered(sender, port, before + queue + beyond, total);
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), before + queue + after));
    Quit(server);

    std::vector<std::string> expected;
    for (int i = 0; i < before + queue; ++i) expected.push_back(Numbered(i));
    for (int i = before + queue + beyond; i < total; ++i) expected.push_back(Numbered(i));
    std::vector<std::string> texts = Texts(Messages(rsyslog.TcpFile()));
    EXPECT_TRUE(texts == expected) << texts.size() << " messages, not the " << expected.size()
                                   << " expected in order";

    // Every drop is told, in the log file as on the console, and the log file kept every line.
    const std::regex notice(R"(WARNING, forwarding to tcp://\S+: (\d+) messages dropped)");
    const std::string logs = ReadLogs(dir.Path());
    int reported = 0;
    for (std::sregex_iterator at(logs.begin(), logs.end(), notice), end; at != end; ++at)
        reported += std::stoi((*at)[1]);
    EXPECT_EQ(reported, beyond);
    size_t lines = 0;
    for (const std::string& record : SplitRecords(logs)) lines += record.find(": line ") != std::string::npos;
    EXPECT_EQ(lines, static_cast<size_t>(total));
}

// A collector that fails on purpose (tests/e2e/collector.py), or none at all: a closed UDP port.
struct FailureCase {
    const char* name;
    const char* mode;     // the collector's mode; nullptr: UDP to a closed port
    int argument;         // bytes before the close, seconds of the stall
    bool delivers;        // the collector ends up with every line
    int maxDuplicates;    // sent again after a reset: acknowledged in its last moments
};

void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

class ForwardFailure : public ServerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ForwardFailure, EveryLineIsDeliveredOrCountedAsDropped) {
    const FailureCase& failure = GetParam();
    const std::string received = dir.File("received");
    Server collector;
    std::string url = "udp://127.0.0.1:" + std::to_string(FreeUdpPort());
    if (failure.mode != nullptr) {
        LaunchOptions options = MakeOptions({UDPTRAIL_SOURCE_DIR "/tests/e2e/collector.py", dir.File("port"),
                                             received, failure.mode, std::to_string(failure.argument)},
                                            dir.Path(), Console::Headless);
        options.program = "/usr/bin/python3";
        ASSERT_TRUE(collector.Start(options));
        ASSERT_TRUE(WaitUntil([&] { return !ReadFile(dir.File("port")).empty(); }, 10));
        url = "tcp://127.0.0.1:" + ReadFile(dir.File("port"));
    }
    ASSERT_TRUE(Listen(Console::Pipes, {dir.Path(), "--forward", url}));
    const int lines = 2000;
    SendNumbered(sender, port, 0, lines);
    if (failure.delivers) {
        EXPECT_TRUE(WaitUntil([&] { return Messages(received).size() >= static_cast<size_t>(lines); }, 20));
    } else if (failure.mode == nullptr) {
        EXPECT_TRUE(server.WaitForOutput(": cannot connect (Connection refused); retrying\n"));
    }
    Quit(server);
    if (failure.mode != nullptr) {
        collector.Signal(SIGKILL);
        EXPECT_TRUE(collector.WaitExit(10));
    }

    std::smatch dropped;
    const std::string errors = server.Errors();
    ASSERT_TRUE(std::regex_search(errors, dropped, std::regex(R"(forward_dropped=(\d+))"))) << errors;
    std::vector<std::string> texts = Texts(Messages(received));
    std::set<std::string> delivered(texts.begin(), texts.end());
    for (const std::string& text : delivered) EXPECT_EQ(text.rfind("line ", 0), 0u) << "torn: " << text;
    EXPECT_EQ(delivered.size() + std::stoul(dropped[1]), static_cast<size_t>(lines));
    EXPECT_EQ(delivered.size(), failure.delivers ? static_cast<size_t>(lines) : 0u);
    EXPECT_LE(texts.size() - delivered.size(), static_cast<size_t>(failure.maxDuplicates));
}

INSTANTIATE_TEST_SUITE_P(
    Collectors, ForwardFailure,
    ::testing::Values(FailureCase{"ClosedUdpPort", nullptr, 0, false, 0},
                      FailureCase{"ResetAfterAccept", "reset", 0, false, 0},
                      FailureCase{"CloseAfter1000Bytes", "close", 1000, true, 64},
                      FailureCase{"StopsReading", "stall", 3, true, 0}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
