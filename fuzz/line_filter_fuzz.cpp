// Fuzz target: the console's filters and highlights on a line's bytes. A --grep "board" with an
// --exclude "x{3}" shows a line exactly when its text (the final line end aside) holds "board"
// and not "xxx"; the highlighted record is the record with reverse-video sequences around spans
// of digits, nothing else changed, within the room a record has.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/line_filter.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        char error[200];
        return AddLinePattern(PatternRole::Grep, "board", error, sizeof error) &&
               AddLinePattern(PatternRole::Exclude, "x{3}", error, sizeof error) &&
               AddLinePattern(PatternRole::Highlight, "[0-9]+", error, sizeof error);
    }();
    Check(ready);
    if (size > 2 * 1028) return 0;  // a console record's text is never longer
    // ESC is mapped away, so that the sequences the highlight adds are the only ones.
    std::string text(reinterpret_cast<const char*>(data), size);
    for (char& byte : text) byte = byte == '\x1b' || byte == '\0' ? 'E' : byte;

    std::string matched = text;
    if (!matched.empty() && matched.back() == '\n') matched.pop_back();
    if (!matched.empty() && matched.back() == '\r') matched.pop_back();
    bool wanted = matched.find("board") != std::string::npos && matched.find("xxx") == std::string::npos;
    Check(ConsoleShowsLine(nullptr, text.c_str()) == wanted);

    std::string record = "221530: " + text;
    size_t length = 0;
    const char* out = HighlightRecord(record.data(), record.size(), 8, &length);
    std::string shown(out, length);
    Check(shown.compare(0, 8, record, 0, 8) == 0);
    std::string plain;
    size_t spans = 0;
    for (size_t at = 0; at < shown.size();) {
        if (shown.compare(at, 4, "\x1b[7m") == 0) {
            size_t end = shown.find("\x1b[27m", at + 4);
            Check(end != std::string::npos && end > at + 4);
            for (size_t i = at + 4; i < end; ++i) Check(shown[i] >= '0' && shown[i] <= '9');
            plain += shown.substr(at + 4, end - at - 4);
            at = end + 5;
            ++spans;
        } else {
            Check(shown[at] != '\x1b');
            plain += shown[at++];
        }
    }
    Check(plain == record);
    Check(spans <= 64);
    return 0;
}
