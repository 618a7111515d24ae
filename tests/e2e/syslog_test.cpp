// End-to-end: --syslog with the senders people already have, started by the test (util-linux
// logger in both formats, Python's SysLogHandler, socat): each message its own record, its colour
// from the priority on a terminal, the exact message in the log file.
#include <gtest/gtest.h>

#include <cstdlib>
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

bool Installed(const std::string& command) {
    return std::system(("command -v " + command + " >/dev/null 2>&1").c_str()) == 0;
}

class Syslog : public ServerTest {
protected:
    bool ListenForMessages(Console console) {
        LaunchOptions options = MakeOptions({"--syslog", std::to_string(port)}, dir.Path(), console);
        return server.Start(options) &&
               server.WaitForOutput("Start listening port:" + std::to_string(port) +
                                    "...\nMode: syslog (one message per datagram)\n\n");
    }
    bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
};

TEST_F(Syslog, StandardSendersGiveOneColouredRecordPerMessage) {
    for (const char* tool : {"logger", "python3", "socat"}) {
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    ASSERT_TRUE(ListenForMessages(Console::Terminal));
    const std::string to = " -n 127.0.0.1 -P " + std::to_string(port) + " -d ";
    ASSERT_TRUE(Run("logger" + to + "'hello 5424'"));                      // <13> user.notice
    ASSERT_TRUE(Run("logger --rfc3164 -p user.err" + to + "'hello 3164'"));  // <11>
    ASSERT_TRUE(Run("python3 -c 'import logging, logging.handlers as h; l = logging.getLogger(\"t\"); "
                    "l.addHandler(h.SysLogHandler((\"127.0.0.1\", " + std::to_string(port) + "))); "
                    "l.warning(\"python warning\"); l.critical(\"two\\nlines\")'"));
    ASSERT_TRUE(Run("printf 'plain no lf' | socat -u - UDP-SENDTO:127.0.0.1:" + std::to_string(port)));
    ASSERT_TRUE(sender.Send("<7>debug, no line feed"));
    ASSERT_TRUE(WaitForLogs(dir.Path(), "debug, no line feed\n"));

    std::vector<std::string> records = SplitRecords(ReadLogs(dir.Path()));
    ASSERT_EQ(records.size(), 7u) << ReadLogs(dir.Path());
    for (const std::string& record : records) EXPECT_TRUE(HasTimePrefix(record)) << record;
    EXPECT_EQ(records[0].substr(8, 6), "<13>1 ");  // the log file keeps <PRI>
    EXPECT_EQ(records[0].substr(records[0].size() - 12), " hello 5424\n");
    EXPECT_EQ(records[1].substr(8, 4), "<11>");
    EXPECT_EQ(records[1].substr(records[1].size() - 12), " hello 3164\n");
    EXPECT_EQ(records[2].substr(8), "<12>python warning\n") << "the NUL terminator is removed";
    EXPECT_EQ(records[3].substr(8), "<10>two\n");
    EXPECT_EQ(records[4].substr(8), "lines\n");
    EXPECT_EQ(records[5].substr(8), "plain no lf\n") << "no byte is taken for a marker";
    EXPECT_EQ(records[6].substr(8), "<7>debug, no line feed\n");

    // The console hides <PRI> and shows the severity's colour, on every record of a message.
    ASSERT_TRUE(server.WaitForOutput("debug, no line feed"));
    const std::string out = server.Output();
    for (const char* shown : {"\x1b[96;40m", "\x1b[91;40m", "\x1b[93;40m", "\x1b[91;44m",
                              "\x1b[0m", "\x1b[90;40m"}) {
        EXPECT_NE(out.find(shown), std::string::npos) << "colour " << shown + 1 << " missing:\n" << out;
    }
    EXPECT_NE(out.find("\x1b[93;40m" + records[2].substr(0, 8) + "python warning\x1b[0m"),
              std::string::npos) << out;
    EXPECT_NE(out.find("\x1b[91;44m" + records[4].substr(0, 8) + "lines\x1b[0m"), std::string::npos)
        << out;
    EXPECT_NE(out.find(records[5].substr(0, 8) + "plain no lf\x1b[0m"), std::string::npos) << out;
    EXPECT_EQ(out.find("<1"), std::string::npos) << "no <PRI> on the console:\n" << out;
    Quit(server);
}

}  // namespace
