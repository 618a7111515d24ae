// What the server prints, byte for byte, and helpers that take its output apart.
#include "support/expected_text.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace testing_support {

// Shows captured bytes readably in a failure message: control bytes as \xNN, long text cut.
std::string Printable(const std::string& bytes) {
    std::string shown;
    const size_t limit = 4000;
    size_t start = bytes.size() > limit ? bytes.size() - limit : 0;
    if (start > 0) shown += "[... " + std::to_string(start) + " bytes before ...]";
    for (size_t i = start; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            shown += "\\n\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string StripCsi(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            size_t j = i + 2;
            while (j < text.size() && static_cast<unsigned char>(text[j]) >= 0x20 &&
                   static_cast<unsigned char>(text[j]) <= 0x3f) {
                ++j;
            }
            if (j < text.size()) {
                i = j;  // skips the final byte too
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::vector<std::string> SplitRecords(const std::string& text) {
    std::vector<std::string> records;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            records.push_back(text.substr(start));
            break;
        }
        records.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return records;
}

bool HasTimePrefix(const std::string& record) {
    if (record.size() < 8 || record[6] != ':' || record[7] != ' ') return false;
    for (int i = 0; i < 6; ++i) {
        if (record[i] < '0' || record[i] > '9') return false;
    }
    int hour = std::stoi(record.substr(0, 2));
    int minute = std::stoi(record.substr(2, 2));
    int second = std::stoi(record.substr(4, 2));
    return hour < 24 && minute < 60 && second <= 60;
}

::testing::AssertionResult MatchRecords(const std::string& content,
                                        const std::vector<std::string>& texts) {
    size_t at = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!HasTimePrefix(content.substr(at, 8))) {
            return ::testing::AssertionFailure()
                   << "record " << i << " has no time prefix at byte " << at;
        }
        at += 8;
        if (content.compare(at, texts[i].size(), texts[i]) != 0) {
            return ::testing::AssertionFailure()
                   << "record " << i << " differs: expected \"" << texts[i] << "\", found \""
                   << content.substr(at, texts[i].size() + 8) << "\"";
        }
        at += texts[i].size();
    }
    if (at != content.size()) {
        return ::testing::AssertionFailure()
               << "unexpected bytes after the last record: \"" << content.substr(at, 80) << "\"";
    }
    return ::testing::AssertionSuccess();
}

int CountOccurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

std::string ExpectedBanner(const std::string& folder, const std::string& maxFileSize,
                           const std::string& retentionDays, const std::string& port) {
    return " " + std::string(73, '=') + "\n" +
           "|                        UDP Trace logging                                |\n"
           "|_________________________________________________________________________|\n"
           "\tLog file name: udplog_YYYYMMDDHHMMSS.log\n"
           "\tLog folder: " +
           folder + " \n" + "\tMax file size: " + maxFileSize + "\n" +
           "\tRetention period: " + retentionDays + " days\n" +
           "\tPress 'q' to quit the program!!!\n" + "\nStart listening port:" + port + "...\n\n";
}

std::string ClosingLines() {
    return std::string(80, '=') + "\r\n" + " The program terminate!!! \r\n";
}

std::string WithoutFinalStatistics(const std::string& text) {
    size_t start = text.rfind("udptrail stats: received=");
    bool last = start != std::string::npos && text.find('\n', start) == text.size() - 1;
    EXPECT_TRUE(last) << "no statistics line at the end:\n" << text;
    return last ? text.substr(0, start) : text;
}

std::string UsageText() {
    return "Usage: udptrail Port <debugFolder: default: current folder> <logFileSize> <log "
           "retention days: default30 day>\r\n"
           "       E.g. udptrail 12345 \"c:\\temp\" \r\n"
           "       Press \"q\" to quit the progam!\r\n";
}

std::string Line(const std::string& text, char marker) { return marker + text + "\n"; }

void ExpectNoRawControls(const std::string& raw, std::initializer_list<const char*> forbidden) {
    EXPECT_EQ(CountOccurrences(raw, "\x1b[2J"), 1)
        << "only the start-up clear may reach the terminal";
    for (const char* sequence : forbidden) {
        EXPECT_EQ(raw.find(sequence), std::string::npos)
            << "raw control sequence reached the terminal: " << Printable(sequence);
    }
}

}  // namespace testing_support
