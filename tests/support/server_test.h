// Steps the end-to-end tests share: ending a server, running one to its end, and the fixture of
// one server in a fresh folder with a free port and a sender.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "support/expected_text.h"
#include "support/files.h"
#include "support/process_pty.h"
#include "support/udp.h"

namespace testing_support {

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

}  // namespace testing_support
