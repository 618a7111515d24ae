// The command line: numeric arguments checked, long options matched exactly.
#include <gtest/gtest.h>

#include "control/command_line.h"
#include "control/options.h"

#include <string>
#include <vector>

namespace {

// Each numeric argument takes a whole decimal number in its range and nothing else; a value it
// refuses is never read as a nearby number.
TEST(ReadNumberArgumentTest, TakesWholeNumbersInRangeOnly) {
    using N = NumberArgument;
    struct Case {
        N which;
        const char* text;
        bool valid;
        int32_t value;
    };
    for (const Case& c : {
             Case{N::Port, "1", true, 1},
             Case{N::Port, "65535", true, 65535},
             Case{N::Port, "00080", true, 80},
             Case{N::Port, "0", false, 0},
             Case{N::Port, "65536", false, 0},
             Case{N::Port, "70000", false, 0},
             Case{N::Port, "4294967297", false, 0},
             Case{N::Port, "+80", false, 0},
             Case{N::Port, "-p", false, 0},
             Case{N::Port, "-1", false, 0},
             Case{N::Port, " 80", false, 0},
             Case{N::Port, "80x", false, 0},
             Case{N::Port, "", false, 0},
             Case{N::LogFileSize, "0", true, 0},
             Case{N::LogFileSize, "-0", true, 0},
             Case{N::LogFileSize, "+16", true, 16},
             Case{N::LogFileSize, "2147483647", true, INT32_MAX},
             Case{N::LogFileSize, "2147483648", false, 0},
             Case{N::LogFileSize, "2M", false, 0},
             Case{N::LogFileSize, "3.5", false, 0},
             Case{N::LogFileSize, "0x10", false, 0},
             Case{N::LogFileSize, "-", false, 0},
             Case{N::LogFileSize, "+-3", false, 0},
             Case{N::RetentionDays, "-1", true, -1},
             Case{N::RetentionDays, "007", true, 7},
             Case{N::RetentionDays, "-2147483648", true, INT32_MIN},
             Case{N::RetentionDays, "-2147483649", false, 0},
             Case{N::RetentionDays, "99999999999999999999999", false, 0},
             Case{N::RetentionDays, "week", false, 0},
             Case{N::RetentionDays, "7 ", false, 0},
         }) {
        int32_t value = 12345;
        EXPECT_EQ(ReadNumberArgument(c.which, c.text, &value), c.valid) << "'" << c.text << "'";
        EXPECT_EQ(value, c.valid ? c.value : 12345) << "'" << c.text << "'";
    }
}

}  // namespace

namespace {

// What the last Parse gave the writer (--sender, --color).
OutputSettings output;

// Runs ParseOptions over `args` (the program name is added) and returns the exit code it asks for,
// or -1 when it goes on; the message it printed is in `errors`. The positional arguments stay
// valid until the next call.
int Parse(std::vector<std::string> args, RunOptions& options, std::string* errors = nullptr,
          const char* noColor = nullptr) {
    // The positional arguments point into the strings: they live until the next call.
    static std::vector<std::string> kept;
    kept = std::move(args);
    kept.insert(kept.begin(), "udptrail");
    std::vector<char*> argv;
    for (std::string& arg : kept) argv.push_back(arg.data());
    testing::internal::CaptureStderr();
    OptionsResult result =
        ParseOptions(static_cast<int>(argv.size()), argv.data(), noColor, options, output);
    std::string printed = testing::internal::GetCapturedStderr();
    if (errors != nullptr) *errors = printed;
    return result.proceed ? -1 : result.exitCode;
}

TEST(ParseOptionsTest, LongOptionsAnywhereInEveryFormAndPositionalsInOrder) {
    RunOptions options;
    ASSERT_EQ(Parse({"--ms", "12345", "--rcvbuf=65536", "dir", "--color", "never", "-5", "-1",
                     "--bind", "::1", "--forward=udp://127.0.0.1:514", "--forward",
                     "tcp://[::1]:6514", "--forward-facility", "local3", "--", "--sender"},
                    options),
              -1);
    ASSERT_EQ(options.positionalCount, 5);
    EXPECT_STREQ(options.positional[0], "12345");
    EXPECT_STREQ(options.positional[2], "-5") << "a negative number is a positional value";
    EXPECT_STREQ(options.positional[3], "-1");
    EXPECT_STREQ(options.positional[4], "--sender") << "nothing after -- is an option";
    EXPECT_TRUE(options.milliseconds);
    EXPECT_FALSE(output.showSender);
    EXPECT_EQ(options.receiveBufferBytes, 65536);
    EXPECT_EQ(output.colors, ConsoleColors::Never);
    EXPECT_STREQ(options.bindAddress, "::1");
    ASSERT_EQ(options.forwardCount, 2);
    EXPECT_STREQ(options.forwardUrls[1], "tcp://[::1]:6514");
    EXPECT_EQ(options.forwardFacility, 19);

    ASSERT_EQ(Parse({"1"}, options, nullptr, "1"), -1);
    EXPECT_EQ(output.colors, ConsoleColors::Never) << "NO_COLOR";
    EXPECT_EQ(options.receiveBufferBytes, kDefaultReceiveBufferBytes);
    EXPECT_EQ(options.forwardFacility, 1) << "user";
    ASSERT_EQ(Parse({"1", "--colour=always"}, options, nullptr, "1"), -1);
    EXPECT_EQ(output.colors, ConsoleColors::Always) << "--color wins over NO_COLOR";
    ASSERT_EQ(Parse({"1"}, options, nullptr, ""), -1);
    EXPECT_EQ(output.colors, ConsoleColors::Auto) << "an empty NO_COLOR means nothing";
}

TEST(ParseOptionsTest, BadOptionsNameThemselvesInOneLineAndAskForExitTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : {
             Case{{"1", "--bogus"}, "udptrail: unrecognized option '--bogus'\n"},
             Case{{"--bogus=3", "1"}, "udptrail: unrecognized option '--bogus=3'\n"},
             Case{{"1", "--sys"}, "udptrail: unrecognized option '--sys'\n"},
             Case{{"1", "--bind"}, "udptrail: option '--bind' requires an argument\n"},
             Case{{"1", "--ms=yes"}, "udptrail: option '--ms' doesn't allow an argument\n"},
             Case{{"1", "--color=blue"}, "udptrail: invalid value 'blue' for option '--color'\n"},
             Case{{"1", "--bind", "localhost"},
                  "udptrail: invalid value 'localhost' for option '--bind'\n"},
             Case{{"1", "--bind=127.1"}, "udptrail: invalid value '127.1' for option '--bind'\n"},
             Case{{"1", "--bind=[::1]"}, "udptrail: invalid value '[::1]' for option '--bind'\n"},
             Case{{"1", "--rcvbuf", "0"}, "udptrail: invalid value '0' for option '--rcvbuf'\n"},
             Case{{"1", "--rcvbuf", "4k"}, "udptrail: invalid value '4k' for option '--rcvbuf'\n"},
             Case{{"1", "--forward", "http://x:1"},
                  "udptrail: invalid value 'http://x:1' for option '--forward'\n"},
             Case{{"1", "--forward", "udp://x:70000"},
                  "udptrail: invalid value 'udp://x:70000' for option '--forward'\n"},
             Case{{"1", "--forward-facility", "24"},
                  "udptrail: invalid value '24' for option '--forward-facility'\n"},
         }) {
        RunOptions options;
        std::string errors;
        EXPECT_EQ(Parse(c.args, options, &errors), 2) << c.message;
        EXPECT_EQ(errors, c.message);
    }
}

}  // namespace
