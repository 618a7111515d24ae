// Tests of udptrail-send's colour and address parsing, of how text is cut into datagrams, and of
// the wire format the client header defines against the server's own sizes.
#include "udptrail_client.h"

#include "send_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intake/packet_queue.h"
#include "intake/receive_gatherer.h"
#include "output/debug_ui.h"
#include "output/line_assembler.h"
#include "support/expected_text.h"

namespace {

using testing_support::Line;
using Strings = std::vector<std::string>;

int Colour(const char* text) {
    int attribute = -1;
    return ParseColour(text, &attribute) ? attribute : -1;
}

// Cuts `text` the way udptrail-send does and returns the datagrams.
std::vector<std::string> Datagrams(const std::string& text, int attribute = UDPTRAIL_NORMAL) {
    std::vector<std::string> result;
    const char* rest = text.data();
    size_t length = text.size();
    char datagram[UDPTRAIL_MAX_DATAGRAM];
    do {
        size_t used = 0;
        size_t lineLength = NextLine(rest, length, &used);
        result.emplace_back(datagram, UdpTrailBuildDatagram(attribute, rest, lineLength, datagram));
        rest += used;
        length -= used;
    } while (length > 0);
    return result;
}

TEST(SendColour, NamesCoverTheSixteenForegroundsAndTheBlueBackground) {
    for (int i = 0; i < 16; ++i) {
        const std::string name = UdpTrailColourName(i);
        EXPECT_EQ(Colour(name.c_str()), i) << name;
        EXPECT_EQ(Colour((name + "-on-blue").c_str()), i + 16);
        EXPECT_EQ(Colour((name + "-on-black").c_str()), i);
    }
    EXPECT_EQ(Colour("GREEN"), 2);
    EXPECT_EQ(Colour("Yellow-On-Blue"), 30);
    EXPECT_EQ(Colour("on-blue"), 23);
    EXPECT_EQ(Colour("gray"), 7);
    EXPECT_EQ(Colour("normal"), 7);
    EXPECT_EQ(Colour("bright-red"), 12);
    EXPECT_EQ(Colour("bright-cyan-on-blue"), 27);
    EXPECT_EQ(Colour("dark-gray"), 8);
}

TEST(SendColour, NumbersAreAttributesOrMarkerBytes) {
    EXPECT_EQ(Colour("0"), 0);
    EXPECT_EQ(Colour("31"), 31);
    EXPECT_EQ(Colour("0x1f"), 31);
    EXPECT_EQ(Colour("010"), 10);
    EXPECT_EQ(Colour("224"), 0);
    EXPECT_EQ(Colour("0xE7"), 7);
    EXPECT_EQ(Colour("255"), 31);
    // Numbers between the two ranges select nothing the server knows.
    for (const char* bad : {"32", "223", "256", "-1", "+3", " 3", "3 ", "12abc", "0x", "0x-1",
                            "99999999999999999999"})
        EXPECT_EQ(Colour(bad), -1) << bad;
}

TEST(SendColour, UnknownNamesAreRefused) {
    for (const char* bad :
         {"", "purple", "red-on-green", "-on-blue", "red-on-blue-on-blue", "redon-blue", "bright-",
          "light-", "light-yellow-", "a-very-long-colour-name-indeed"})
        EXPECT_EQ(Colour(bad), -1) << bad;
}

TEST(SendTarget, SplitsHostAndPortAtTheLastColon) {
    char host[kMaxHostLength + 1];
    int port = 0;
    ASSERT_TRUE(ParseTarget("127.0.0.1:5000", host, &port));
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_EQ(port, 5000);
    ASSERT_TRUE(ParseTarget("localhost:65535", host, &port));
    EXPECT_STREQ(host, "localhost");
    EXPECT_EQ(port, 65535);
    ASSERT_TRUE(ParseTarget("[::1]:6514", host, &port));
    EXPECT_STREQ(host, "::1");
    EXPECT_EQ(port, 6514);
}

TEST(SendTarget, RefusesMalformedAddresses) {
    char host[kMaxHostLength + 1];
    int port = 0;
    const std::string longHost(kMaxHostLength + 1, 'h');
    for (const std::string& bad :
         {std::string("5000"), std::string(":5000"), std::string("host:"), std::string("host:0"),
          std::string("host:65536"), std::string("host:70000"), std::string("host:12a"),
          std::string("host:+5"), std::string("host:-5"), longHost + ":5000",
          std::string("a:b:1"), std::string("::1:5000"), std::string("[]:5"),
          std::string("[::1]5000"), std::string("[::1:5000")})
        EXPECT_FALSE(ParseTarget(bad.c_str(), host, &port)) << bad;
    EXPECT_TRUE(ParseTarget((longHost.substr(1) + ":5000").c_str(), host, &port));
}

TEST(SendDatagrams, EachLineIsMarkerTextAndLineFeed) {
    EXPECT_EQ(Datagrams("boot ok", 2), Strings{Line("boot ok", '\xE2')});
    EXPECT_EQ(Datagrams("hi", 16 + 14), Strings{Line("hi", '\xFE')});
    // An empty text is still a line; a final line feed ends a line without adding one.
    EXPECT_EQ(Datagrams(""), Strings{"\xE7\n"});
    EXPECT_EQ(Datagrams("hello\n"), Strings{"\xE7hello\n"});
    EXPECT_EQ(Datagrams("a\n\nb"), (Strings{Line("a"), Line(""), Line("b")}));
    EXPECT_EQ(Datagrams("50% \\n"), Strings{Line("50% \\n")});
}

TEST(SendDatagrams, LongLinesAreSplitToFitTheServersRoom) {
    const std::string full(UDPTRAIL_MAX_TEXT, 'x');
    EXPECT_EQ(Datagrams(full), Strings{"\xE7" + full + "\n"});
    EXPECT_EQ(Datagrams(full + "\n"), Strings{"\xE7" + full + "\n"});
    EXPECT_EQ(Datagrams(full + "yz"), (Strings{"\xE7" + full + "\n", "\xE7yz\n"}));
    EXPECT_EQ(Datagrams(full + full), (Strings{"\xE7" + full + "\n", "\xE7" + full + "\n"}));
    for (const std::string& datagram : Datagrams(std::string(5000, 'q')))
        EXPECT_LE(datagram.size(), size_t{UDPTRAIL_MAX_DATAGRAM});
}

TEST(SendDatagrams, ANulByteEndsTheLine) {
    using namespace std::string_literals;
    EXPECT_EQ(Datagrams("ab\0cd\nef"s), (Strings{Line("ab"), Line("ef")}));
    EXPECT_EQ(Datagrams("\0tail"s), Strings{"\xE7\n"});
}

// The longest datagram the header sends must reach the server whole: it fits one receive and one
// ring slot, its line fits the line buffer and is written in one piece.
TEST(WireFormat, TheLongestDatagramFitsTheServersBuffers) {
    EXPECT_EQ(UDPTRAIL_MAX_DATAGRAM, kReceiveBufferSize);
    EXPECT_EQ(UDPTRAIL_MAX_DATAGRAM, kQueueEntrySize);
    EXPECT_GE(sizeof(LineAssembly::lineBuffer), size_t{UDPTRAIL_MAX_DATAGRAM + 1});  // and a NUL
    EXPECT_LE(UDPTRAIL_MAX_TEXT, kTextPieceSize);
    EXPECT_EQ(UdpTrailMarker(UDPTRAIL_NORMAL), 0xE7);
    EXPECT_EQ(MarkerToAttribute(UdpTrailMarker(UDPTRAIL_YELLOW | UDPTRAIL_ON_BLUE)), 30);
}

}  // namespace
