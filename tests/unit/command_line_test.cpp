// Conversion of numeric arguments: atoi-style, saturating, never rejecting anything.
#include <gtest/gtest.h>

#include "control/command_line.h"
#include "control/options.h"

#include <string>
#include <vector>

namespace {

TEST(ConvertNumberTest, AcceptsLeadingBlanksAndOneSign) {
    EXPECT_EQ(ConvertNumber("5000"), 5000);
    EXPECT_EQ(ConvertNumber("   42"), 42);
    EXPECT_EQ(ConvertNumber("\t\n\v\f\r 7"), 7);
    EXPECT_EQ(ConvertNumber("+12"), 12);
    EXPECT_EQ(ConvertNumber("-12"), -12);
    EXPECT_EQ(ConvertNumber("007"), 7);
    EXPECT_EQ(ConvertNumber("-0"), 0);
}

TEST(ConvertNumberTest, StopsAtTheFirstNonDigitAndGivesZeroWithoutDigits) {
    EXPECT_EQ(ConvertNumber("12abc"), 12);
    EXPECT_EQ(ConvertNumber("70000 "), 70000);
    EXPECT_EQ(ConvertNumber("3.9"), 3);
    EXPECT_EQ(ConvertNumber("0x10"), 0) << "base 10 only";
    EXPECT_EQ(ConvertNumber("abc"), 0);
    EXPECT_EQ(ConvertNumber(""), 0);
    EXPECT_EQ(ConvertNumber("   "), 0);
    EXPECT_EQ(ConvertNumber("-"), 0);
    EXPECT_EQ(ConvertNumber("+-3"), 0);
    EXPECT_EQ(ConvertNumber("- 3"), 0) << "no blank between sign and digits";
    EXPECT_EQ(ConvertNumber("1 2"), 1);
}

TEST(ConvertNumberTest, SaturatesBothWays) {
    EXPECT_EQ(ConvertNumber("2147483647"), INT32_MAX);
    EXPECT_EQ(ConvertNumber("2147483648"), INT32_MAX);
    EXPECT_EQ(ConvertNumber("99999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(ConvertNumber("9223372036854775808"), INT32_MAX) << "past 64 bits too";
    EXPECT_EQ(ConvertNumber("-2147483648"), INT32_MIN);
    EXPECT_EQ(ConvertNumber("-2147483649"), INT32_MIN);
    EXPECT_EQ(ConvertNumber("-99999999999999999999999999"), INT32_MIN);
    EXPECT_EQ(ConvertNumber("0000000000000000000000000012"), 12) << "leading zeros are no overflow";
    EXPECT_EQ(ConvertNumber("4294967297"), INT32_MAX) << "no wrap-around to 1";
}

}  // namespace

namespace {

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
    OptionsResult result = ParseOptions(static_cast<int>(argv.size()), argv.data(), noColor, options);
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
    EXPECT_FALSE(options.showSender);
    EXPECT_EQ(options.receiveBufferBytes, 65536);
    EXPECT_EQ(options.color, ColorMode::Never);
    EXPECT_STREQ(options.bindAddress, "::1");
    ASSERT_EQ(options.forwardCount, 2);
    EXPECT_STREQ(options.forwardUrls[1], "tcp://[::1]:6514");
    EXPECT_EQ(options.forwardFacility, 19);

    ASSERT_EQ(Parse({"1"}, options, nullptr, "1"), -1);
    EXPECT_EQ(options.color, ColorMode::Never) << "NO_COLOR";
    EXPECT_EQ(options.receiveBufferBytes, kDefaultReceiveBufferBytes);
    EXPECT_EQ(options.forwardFacility, 1) << "user";
    ASSERT_EQ(Parse({"1", "--colour=always"}, options, nullptr, "1"), -1);
    EXPECT_EQ(options.color, ColorMode::Always) << "--color wins over NO_COLOR";
    ASSERT_EQ(Parse({"1"}, options, nullptr, ""), -1);
    EXPECT_EQ(options.color, ColorMode::Auto) << "an empty NO_COLOR means nothing";
}

TEST(ParseOptionsTest, BadOptionsNameThemselvesInOneLineAndAskForExitTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : {
             Case{{"1", "--bogus"}, "udptrail: unrecognized option '--bogus'\n"},
             Case{{"--bogus=3", "1"}, "udptrail: unrecognized option '--bogus=3'\n"},
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
