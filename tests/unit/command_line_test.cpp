// Conversion of numeric arguments: atoi-style, saturating, never rejecting anything.
#include <gtest/gtest.h>

#include "control/command_line.h"

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
