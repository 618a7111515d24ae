// Console rendering: the time prefix, colours as ANSI SGR, and control bytes made visible.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "output/console_text.h"
#include "output/time_prefix.h"
#include "platform/posix/sgr.h"

namespace {

std::string Sgr(uint16_t attribute) {
    char out[64];
    memset(out, '#', sizeof out);
    const size_t length = FormatSgr(attribute, out);
    EXPECT_LT(length, sizeof out);
    return std::string(out, length);
}

std::string Escape(const std::string& text) {
    const size_t room = kEscapedBytesPerByte * text.size();
    std::string out(room + 8, '#');
    const size_t length = EscapeForTerminal(text.data(), text.size(), out.data());
    EXPECT_LE(length, room);
    for (size_t i = room; i < out.size(); ++i) EXPECT_EQ(out[i], '#') << "written past the room";
    return out.substr(0, length);
}

TEST(TimePrefixTest, TwoDigitsEachThenColonAndBlank) {
    std::tm t{};
    t.tm_hour = 1;
    t.tm_min = 2;
    t.tm_sec = 3;
    char out[16];
    EXPECT_EQ(FormatTimePrefix(t, out), kTimePrefixLength);
    EXPECT_STREQ(out, "010203: ");
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 59;
    FormatTimePrefix(t, out);
    EXPECT_STREQ(out, "235959: ");
    // With milliseconds, three digits each time.
    EXPECT_EQ(FormatTimePrefix(t, out, 7), kTimePrefixMsLength);
    EXPECT_STREQ(out, "235959.007: ");
    FormatTimePrefix(t, out, 999);
    EXPECT_STREQ(out, "235959.999: ");
}

// --time=iso: RFC 3339 local time with milliseconds and the zone's offset, east positive.
TEST(TimePrefixTest, IsoFormHasTheDateMillisecondsAndOffset) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 19;
    t.tm_min = 31;
    t.tm_sec = 3;
    char out[kTimePrefixMaxLength + 1];
    EXPECT_EQ(FormatIsoTimePrefix(t, 211, 3600, out), kTimePrefixMaxLength);
    EXPECT_STREQ(out, "2026-12-09T19:31:03.211+01:00 ");
    FormatIsoTimePrefix(t, 7, -(9 * 3600 + 30 * 60), out);
    EXPECT_STREQ(out, "2026-12-09T19:31:03.007-09:30 ");
    FormatIsoTimePrefix(t, 999, 0, out);
    EXPECT_STREQ(out, "2026-12-09T19:31:03.999+00:00 ");
}

// Windows attribute bits: blue 1, green 2, red 4, intensity 8; background the same, shifted by 4.
TEST(SgrTest, EveryMarkerAttributeHasItsColourAndTheNormalOneResets) {
    const char* const foreground[16] = {
        "30", "34", "32", "36", "31", "35", "33", "37",   // black blue green cyan red magenta yellow grey
        "90", "94", "92", "96", "91", "95", "93", "97"};  // the same, bright
    for (int fg = 0; fg < 16; ++fg) {
        const std::string onBlack = fg == 7 ? "\x1b[0m" : "\x1b[" + std::string(foreground[fg]) + ";40m";
        EXPECT_EQ(Sgr(static_cast<uint16_t>(fg)), onBlack) << "attribute " << fg;
        EXPECT_EQ(Sgr(static_cast<uint16_t>(0x10 | fg)), "\x1b[" + std::string(foreground[fg]) + ";44m")
            << "attribute " << (0x10 | fg);
    }
}

TEST(EscapeTest, ControlBytesBecomeVisibleCaretForms) {
    EXPECT_EQ(Escape("\x1b[2Jclear\n"), "^[[2Jclear\n");
    EXPECT_EQ(Escape(std::string("\x01\x07\x08\x0b\x0c\x1f\x7f", 7)), "^A^G^H^K^L^_^?");
    EXPECT_EQ(Escape(std::string("a\0b", 3)), "a^@b");
    EXPECT_EQ(Escape("bell\a title\x1b]0;pwned\a\n"), "bell^G title^[]0;pwned^G\n");
}

TEST(EscapeTest, C1ControlsInUtf8FormShowTheirCodeAndOtherUtf8Stays) {
    EXPECT_EQ(Escape("\xc2\x9b" "2J \xc2\x9d" "0;t\xc2\x9c \xc2\x80\xc2\x9f\n"),
              "<9B>2J <9D>0;t<9C> <80><9F>\n");
    EXPECT_EQ(Escape("\xc2\xa0\xc2\x7f \x9b \xc2"), "\xc2\xa0\xc2^? <9B> \xc2");
    EXPECT_EQ(Escape(std::string(8, '\xc2') + "\x85"), std::string(7, '\xc2') + "<85>");
}

// A bare byte 0x80 to 0x9F is a C1 control to a terminal that reads 8-bit controls, unless it is
// part of a well-formed UTF-8 character.
TEST(EscapeTest, BareC1BytesShowTheirCodeUnlessInsideAWellFormedUtf8Character) {
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {" \x9b" "31m raw csi \x9d" "0;x\x07\n", " <9B>31m raw csi <9D>0;x^G\n"},
        {"\x80\x9f\xa0", "<80><9F>\xa0"},
        {"\xe2\x80\x9c" "q\xe2\x80\x9d \xf0\x9f\x98\x80 \xed\x9f\xbf", "\xe2\x80\x9c" "q\xe2\x80\x9d \xf0\x9f\x98\x80 \xed\x9f\xbf"},
        {"\xe0\x80\x80 \xc1\x9b", "\xe0<80><80> \xc1<9B>"},              // overlong forms
        {"\xed\xa0\x80 \xf4\x90\x80\x80", "\xed\xa0<80> \xf4<90><80><80>"},  // surrogate, past U+10FFFF
        {"\xe2\x80 \xf0\x9f\x98", "\xe2<80> \xf0<9F><98>"},               // cut characters
        {"\xf5\x80\xe2\x82\xac\x85 \xe2\x82\xc3\xa9", "\xf5<80>\xe2\x82\xac<85> \xe2<82>\xc3\xa9"},
    };
    for (const auto& c : cases) EXPECT_EQ(Escape(c.text), c.shown) << c.text;
}

TEST(EscapeTest, TabsPrintableAndHighBytesAndTheLineEndStay) {
    EXPECT_EQ(Escape("a\tb c~\n"), "a\tb c~\n");
    EXPECT_EQ(Escape("gr\xc3\xbc\xc3\x9f \xa0\xff\r\n"), "gr\xc3\xbc\xc3\x9f \xa0\xff\r\n");
    EXPECT_EQ(Escape(""), "");
    EXPECT_EQ(Escape("\n"), "\n");
    EXPECT_EQ(Escape("\r\n"), "\r\n");
}

TEST(EscapeTest, LineFeedsAndCarriageReturnsNotEndingTheTextAreEscaped) {
    EXPECT_EQ(Escape("over\rwrite\n"), "over^Mwrite\n");
    EXPECT_EQ(Escape("two\r\r\n"), "two^M\r\n");
    EXPECT_EQ(Escape("cr at end\r"), "cr at end^M");
    EXPECT_EQ(Escape("mid\nline\n"), "mid^Jline\n");
    EXPECT_EQ(Escape("no end"), "no end");
}

TEST(EscapeTest, AllControlBytesAreEscaped) {
    std::string all;
    for (int b = 0; b < 32; ++b) all += static_cast<char>(b);
    all += '\x7f';
    const std::string escaped = Escape(all);
    EXPECT_EQ(escaped.size(), 2 * all.size() - 1) << "every byte but the tab doubles";
    for (char c : escaped) {
        const auto u = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\t' || (u >= 0x20 && u != 0x7f)) << "raw control byte " << int(u);
    }
}

}  // namespace
