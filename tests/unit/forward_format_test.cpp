// Forwarded messages: the RFC 5424 text of a line, its frame, the ring that queues them, the
// target's URL and the reconnection back-off.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "output/forward_ring.h"
#include "output/forward_target.h"
#include "output/forward_url.h"
#include "intake/syslog_header.h"
#include "output/syslog_format.h"

namespace {

std::string Format(const char* sender, const std::string& text, int priority = 14) {
    static std::vector<char> out(kMaxSyslogMessage);
    SyslogHeader header = {priority, "2026-12-09T10:11:12.345+01:00", "desk", sender};
    return std::string(out.data(), FormatSyslogMessage(header, text.data(), static_cast<int>(text.size()), out.data()));
}

std::string Stamp(int offsetSeconds, int milliseconds) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 7;
    t.tm_min = 8;
    t.tm_sec = 9;
    char out[kSyslogTimestampSize];
    int length = FormatSyslogTimestamp(t, milliseconds, offsetSeconds, out);
    EXPECT_EQ(length, static_cast<int>(strlen(out)));
    return out;
}

TEST(SyslogFormat, HeaderStructuredDataAndTextWithoutItsLineEnd) {
    const std::string head = "<14>1 2026-12-09T10:11:12.345+01:00 desk udptrail - - ";
    EXPECT_EQ(Format("192.0.2.7:5000", "a \"b\" ]\\\r\n"), head + "[origin ip=\"192.0.2.7\"] a \"b\" ]\\");
    EXPECT_EQ(Format("[2001:db8::7]:5000", "x\n"), head + "[origin ip=\"2001:db8::7\"] x");
    EXPECT_EQ(Format("a\"b\\c]:1", "x"), head + "[origin ip=\"a\\\"b\\\\c\\]\"] x");
    EXPECT_EQ(Format(nullptr, "only CR stays\r"), head + "- only CR stays\r");
    EXPECT_EQ(Format(nullptr, "\n"), head + "- ");
    EXPECT_EQ(Format(nullptr, std::string("nul\0in", 6) + "\n"), head + "- " + std::string("nul\0in", 6));
    std::string longest = Format(nullptr, std::string(70000, 'x'));
    EXPECT_EQ(longest.size(), static_cast<size_t>(kMaxSyslogMessage));
    EXPECT_EQ(Format(nullptr, "", 191).substr(0, 7), "<191>1 ");
}

TEST(SyslogFormat, SeverityFromTheColourAndTimestampWithOffset) {
    EXPECT_EQ(SyslogSeverity(0x1C), 2);
    EXPECT_EQ(SyslogSeverity(0x0C), 3);
    EXPECT_EQ(SyslogSeverity(0x0E), 4);
    EXPECT_EQ(SyslogSeverity(0x0B), 5);
    EXPECT_EQ(SyslogSeverity(0x08), 7);
    for (uint16_t other : {0x07, 0x00, 0x0A, 0x1F, 0x4C}) EXPECT_EQ(SyslogSeverity(other), 6) << other;

    EXPECT_EQ(Stamp(3600, 345), "2026-12-09T07:08:09.345+01:00");
    EXPECT_EQ(Stamp(0, 0), "2026-12-09T07:08:09.000+00:00");
    EXPECT_EQ(Stamp(-(9 * 3600 + 30 * 60), 7), "2026-12-09T07:08:09.007-09:30");
    char frame[kSyslogFrameHeaderSize];
    EXPECT_EQ(FormatFrameHeader(kMaxSyslogMessage, frame), 6);
    EXPECT_STREQ(frame, "65507 ");
}

// The ring holds 10,000 messages while nothing is taken, then takes more as they are released,
// messages that reach past its end coming out whole.
TEST(ForwardRingTest, BoundedByMessagesAndWholeAcrossTheEnd) {
    ForwardRing ring;
    ASSERT_TRUE(CreateForwardRing(ring));
    std::string small(100, 's');
    uint64_t accepted = 0;
    while (PushForwardMessage(ring, small.data(), static_cast<int>(small.size()))) ++accepted;
    EXPECT_EQ(accepted, kForwardRingMessages);

    // Drain and refill with large messages until the ring has wrapped several times.
    std::string large(50000, 'L');
    uint64_t position = ring.readPosition.load();
    for (int round = 0; round < 400; ++round) {
        const char* bytes;
        int length;
        uint64_t next;
        uint64_t released = 0;
        while (PeekForwardMessage(ring, position, &bytes, &length, &next)) {
            std::string expected = static_cast<size_t>(length) == small.size() ? small : large;
            ASSERT_EQ(std::string(bytes, length), expected);
            position = next;
            ++released;
        }
        ReleaseForwardMessages(ring, position, released);
        EXPECT_EQ(QueuedForwardMessages(ring), 0u);
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(PushForwardMessage(ring, large.data(), static_cast<int>(large.size())));
    }
    EXPECT_GT(ring.writePosition.load(), 2 * kForwardRingBytes);
    FreeForwardRing(ring);
}

TEST(ForwardUrlTest, OneParserForTheOptionCheckAndTheStart) {
    struct Case {
        const char* url;
        bool stream;
        const char* host;  // nullptr: refused
        const char* port;
    };
    for (const Case& c : {Case{"tcp://h:0000000514", true, "h", "514"}, Case{"udp://[::1]:65535", false, "::1", "65535"},
                          Case{"tcp://127.0.0.1:1", true, "127.0.0.1", "1"}, Case{"tcp://h:0", true, nullptr, ""},
                          Case{"tcp://h:65536", true, nullptr, ""}, Case{"tcp://h:", true, nullptr, ""},
                          Case{"tcp://:514", true, nullptr, ""}, Case{"tcp://[]:514", true, nullptr, ""},
                          Case{"tcp://a:b:514", true, nullptr, ""}, Case{"tcp://u@h:514", true, nullptr, ""},
                          Case{"tcp://h:5x", true, nullptr, ""}, Case{"http://h:514", true, nullptr, ""}}) {
        ForwardUrl url;
        ASSERT_EQ(ParseForwardUrl(c.url, &url), c.host != nullptr) << c.url;
        if (c.host == nullptr) continue;
        EXPECT_EQ(url.stream, c.stream) << c.url;
        EXPECT_STREQ(url.host, c.host) << c.url;
        EXPECT_STREQ(url.port, c.port) << c.url;
    }
}

TEST(ForwardBackOffTest, DoublesFromATenthOfASecondToFiveSecondsAndStaysThere) {
    std::vector<int> waits = {kFirstBackOffMs};
    while (waits.size() < 9) waits.push_back(NextBackOffMs(waits.back()));
    EXPECT_EQ(waits, (std::vector<int>{100, 200, 400, 800, 1600, 3200, 5000, 5000, 5000}));
}

// A --syslog message's header as the console shows it and as it is relayed.
TEST(SyslogRelayTest, EachFormKeepsWhatItsSenderSaid) {
    struct Case {
        std::string message;
        std::string console;
        std::string relay;
    };
    const std::string origin = "[origin ip=\"192.0.2.7\"]";
    for (const Case& c : {
             Case{"<132>1 2026-12-09T19:31:03.2+00:00 vm root 42 MID [tq a=\"]\\\"\"] \xEF\xBB\xBFhi", "vm root[42]: hi",
                  "<132>1 2026-12-09T19:31:03.2+00:00 vm root 42 MID [tq a=\"]\\\"\"]" + origin + " \xEF\xBB\xBFhi"},
             Case{"<14>1 - - - - - -", "", "<14>1 - - - - - " + origin},
             Case{"<155>Dec  9 22:31:46 vm tagx[123]: hello", "vm tagx[123]: hello",
                  "<155>1 2026-12-09T22:31:46+01:00 vm tagx 123 - " + origin + " hello"},
             Case{"<13>Dec 10 01:02:03 sshd: x", "sshd: x",
                  "<13>1 2026-12-10T01:02:03+01:00 192.0.2.7 sshd - - " + origin + " x"},
             Case{"<13>Dec  9 22:31:46 host just text", "host just text",
                  "<13>1 2026-12-09T22:31:46+01:00 host - - - " + origin + " just text"},
             Case{"<13>cron[7]:job", "cron[7]: job", "<13>1 NOW 192.0.2.7 cron 7 - " + origin + " job"},
             Case{"<12>text", "text", "<12>1 NOW 192.0.2.7 - - - " + origin + " text"},
             Case{"<14>1 ts h a p m [x msg", "1 ts h a p m [x msg",
                  "<14>1 NOW 192.0.2.7 - - - " + origin + " 1 ts h a p m [x msg"},
         }) {
        const int length = static_cast<int>(c.message.size());
        SyslogHeaderParts parts = ParseSyslogHeader(c.message.data(), length);
        std::vector<char> shown(c.message.size() + 4);
        EXPECT_EQ(std::string(shown.data(), FormatSyslogConsoleText(c.message.data(), length, parts, shown.data())),
                  c.console) << c.message;
        static std::vector<char> out(kMaxSyslogMessage);
        SyslogRelayContext context = {"NOW", 2026, 3600, "192.0.2.7:5000"};
        EXPECT_EQ(std::string(out.data(), FormatSyslogRelay(c.message.data(), length, parts, context, out.data())),
                  c.relay) << c.message;
    }
}

}  // namespace
