// The --syslog framing of one message: its <PRI> and colour, the line ends it drops, and the
// records its inner line feeds and NUL runs give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intake/syslog_framing.h"

namespace {

// Each record as "<attribute>|<console skip>|<text>" (marker decoded, line feed dropped).
void Collect(const char* record, int length, int consoleSkip, void* context) {
    auto* records = static_cast<std::vector<std::string>*>(context);
    ASSERT_EQ(record[length - 1], '\n');
    records->push_back(std::to_string(static_cast<unsigned char>(record[0]) - 0xE0) + "|" +
                       std::to_string(consoleSkip) + "|" + std::string(record + 1, length - 2));
}

TEST(SyslogFramingTest, PriorityColourLineEndsAndRecords) {
    const struct {
        std::string message;
        std::vector<std::string> records;
    } cases[] = {
        {"<134>local0 info", {"7|5|<134>local0 info"}},      // facility 16, severity 6: normal
        {"<191>last", {"8|5|<191>last"}},                    // the highest priority, severity 7
        {"<192>too high", {"7|0|<192>too high"}},            // no <PRI>: shown as it is
        {"<11>a\r\n", {"12|4|<11>a"}},                        // severity 3, CR LF dropped
        {std::string("<11>a\0b", 7), {"12|4|<11>a", "12|0|b"}},
        {std::string("<12>a\0\0b\n\nc\0\0", 13), {"14|4|<12>a", "14|0|b", "14|0|", "14|0|c"}},
        {"\xe2marker\nline", {"2|0|marker", "2|0|line"}},
        {std::string("\n\0\r\n", 4), {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> records;
        EXPECT_EQ(FrameSyslogMessage(c.message.data(), static_cast<int>(c.message.size()), Collect, &records),
                  static_cast<int>(c.records.size()));
        EXPECT_EQ(records, c.records) << c.message;
    }
}

}  // namespace
