// Fuzz target: the --syslog framing of one datagram (the <PRI> parser, the removal of trailing
// line ends, the cutting into records). Invariants: every record is a marker, at most 1,022 text
// bytes and one line feed, with no line feed or NUL inside; the texts, in order, are every byte
// of the message except its trailing line ends, the separators between records and a leading
// marker byte; the console skip is the <PRI> on the first record only, and the colour is the
// same on every record.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "intake/syslog_framing.h"

namespace {

struct Framed {
    std::string texts;  // record texts joined, each followed by '|' in place of its end
    int records = 0;
    char marker = 0;
    int firstSkip = 0;
};

void Collect(const char* record, int length, int consoleSkip, void* context) {
    Framed& framed = *static_cast<Framed*>(context);
    Check(length >= 2 && length <= kSyslogRecordText + 2, "a record fits a ring entry");
    Check(static_cast<unsigned char>(record[0]) >= 0xE0, "a record starts with a marker");
    Check(record[length - 1] == '\n', "a record ends with a line feed");
    const std::string text(record + 1, static_cast<size_t>(length - 2));
    Check(text.find('\n') == std::string::npos && text.find('\0') == std::string::npos,
          "no line feed or NUL inside a record");
    if (framed.records == 0) {
        framed.marker = record[0];
        framed.firstSkip = consoleSkip;
        Check(consoleSkip >= 0 && consoleSkip <= static_cast<int>(text.size()), "skip within the text");
    } else {
        Check(record[0] == framed.marker, "every record in the message's colour");
        Check(consoleSkip == 0, "only the first record hides a <PRI>");
    }
    framed.texts += text;
    ++framed.records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(kSyslogMessageSize)) return 0;
    const char* message = reinterpret_cast<const char*>(data);
    const int length = static_cast<int>(size);
    Framed framed;
    const int records = FrameSyslogMessage(message, length, Collect, &framed);
    Check(records == framed.records, "the count returned is the records handed over");

    const int kept = WithoutLineEnds(message, length);
    Check(kept >= 0 && kept <= length, "trimmed length within the message");
    if (kept > 0) {
        const char last = message[kept - 1];
        Check(last != '\n' && last != '\0', "no line feed or NUL is left at the end");
    }
    if (kept == 0) {
        Check(records == 0, "a message of line ends alone gives no record");
        return 0;
    }
    int priority = -1;
    const int skip = ParseSyslogPriority(message, kept, &priority);
    Check(skip == 0 || (skip >= 3 && skip <= 5 && priority >= 0 && priority <= 191), "<PRI> form");
    Check(framed.firstSkip == skip, "the console hides exactly the <PRI>");
    const unsigned char first = static_cast<unsigned char>(message[0]);
    const bool markerEaten = skip == 0 && first >= 0xE0;
    if (skip > 0) {
        Check(static_cast<unsigned char>(framed.marker) == 0xE0 + SeverityAttribute(priority % 8),
              "colour from the severity");
    }
    std::string expected;
    for (int i = markerEaten ? 1 : 0; i < kept; ++i) {
        if (message[i] != '\n' && message[i] != '\0') expected += message[i];
    }
    Check(framed.texts == expected, "every byte but the line ends reaches the records, in order");
    return 0;
}
