// Steps the end-to-end tests share: ending a server, running one to its end, and the fixture of
// one server in a fresh folder.
#include "support/server_test.h"

#include <string.h>

namespace testing_support {

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

}  // namespace testing_support
