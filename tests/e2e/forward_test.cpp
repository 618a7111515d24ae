// End-to-end: --forward against a real rsyslog run by the test (unprivileged, its own
// configuration in a temporary folder, inputs on loopback ports, every raw message into a file).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
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
    ASSERT_TRUE(rsyslog.Start());
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), before + queue));
    SendNumbered(sender, port, before + queue + beyond, total);
    ASSERT_TRUE(WaitForMessages(rsyslog.TcpFile(), before + queue + after));
    Quit(server);

    std::vector<std::string> expected;
    for (int i = 0; i < before + queue; ++i) expected.push_back(Numbered(i));
    for (int i = before + queue + beyond; i < total; ++i) expected.push_back(Numbered(i));
    std::vector<std::string> texts = Texts(Messages(rsyslog.TcpFile()));
    EXPECT_TRUE(texts == expected) << texts.size() << " messages, not the " << expected.size()
                                   << " expected in order";

    // Every drop is reported, and the log file kept every line.
    const std::regex notice(R"(WARNING, forwarding to tcp://\S+: (\d+) messages dropped)");
    std::string reports = server.Output() + server.Errors();
    int reported = 0;
    for (std::sregex_iterator at(reports.begin(), reports.end(), notice), end; at != end; ++at)
        reported += std::stoi((*at)[1]);
    EXPECT_EQ(reported, beyond);
    EXPECT_EQ(SplitRecords(ReadLogs(dir.Path())).size(), static_cast<size_t>(total));
}

}  // namespace
