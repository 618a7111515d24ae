// The console's filters and highlights, matched with the patterns of output/pattern.h.
#include "output/line_filter.h"

#include <cstdio>
#include <cstring>

#include "output/pattern.h"

namespace {

struct PatternSet {
    Pattern* patterns[kMaxPatternsPerRole];
    const char* texts[kMaxPatternsPerRole];  // as given; the command line outlives the run
    int count;
};

PatternSet grep;
PatternSet exclude;
PatternSet highlight;
bool ignoreCaseWanted = false;
bool everUsed = false;
uint64_t filteredLines = 0;

Pattern* livePattern = nullptr;
char liveText[256];

// A line with its sender before it, the text the patterns see (sender, space, the longest text).
char matchRoom[64 + 2048];
// A record with its highlights: the record and, per highlight, "\x1b[7m" and "\x1b[27m".
constexpr size_t kHighlightSequences = 9;
char highlighted[2 * 2048 + 128 + 64 * kHighlightSequences];

bool AnyMatches(const PatternSet& set, const char* text, size_t length) {
    size_t begin = 0;
    size_t end = 0;
    for (int i = 0; i < set.count; ++i) {
        if (PatternFind(set.patterns[i], text, length, 0, &begin, &end)) return true;
    }
    return false;
}

PatternSet& SetOf(PatternRole role) {
    return role == PatternRole::Grep ? grep : role == PatternRole::Exclude ? exclude : highlight;
}

// Appends `text` to `out` when it fits; false otherwise.
bool Append(char* out, size_t size, size_t* length, const char* text) {
    size_t added = strlen(text);
    if (*length + added >= size) return false;
    memcpy(out + *length, text, added);
    *length += added;
    return true;
}

bool AppendQuoted(char* out, size_t size, size_t* length, const char* text, const char* before) {
    return Append(out, size, length, before) && Append(out, size, length, "'") &&
           Append(out, size, length, text) && Append(out, size, length, "'");
}

}  // namespace

void SetPatternsIgnoreCase(bool ignoreCase) { ignoreCaseWanted = ignoreCase; }

bool AddLinePattern(PatternRole role, const char* text, char* error, size_t errorSize) {
    PatternSet& set = SetOf(role);
    if (set.count == kMaxPatternsPerRole) {
        snprintf(error, errorSize, "at most %d patterns", kMaxPatternsPerRole);
        return false;
    }
    Pattern* pattern = PatternCompile(text, ignoreCaseWanted, error, errorSize);
    if (pattern == nullptr) return false;
    set.patterns[set.count] = pattern;
    set.texts[set.count++] = text;
    if (role != PatternRole::Highlight) everUsed = true;
    return true;
}

bool SetLiveFilter(const char* text, char* error, size_t errorSize) {
    Pattern* pattern = nullptr;
    if (text[0] != '\0') {
        if (strlen(text) >= sizeof liveText) {
            snprintf(error, errorSize, "longer than %zu bytes", sizeof liveText - 1);
            return false;
        }
        pattern = PatternCompile(text, ignoreCaseWanted, error, errorSize);
        if (pattern == nullptr) return false;
    }
    PatternFree(livePattern);
    livePattern = pattern;
    snprintf(liveText, sizeof liveText, "%s", text);
    everUsed = true;
    return true;
}

bool LineFilterEverUsed() { return everUsed; }

bool ConsoleShowsLine(const char* sender, const char* text) {
    if (grep.count == 0 && exclude.count == 0 && livePattern == nullptr) return true;
    size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '\n') --length;
    if (length > 0 && text[length - 1] == '\r') --length;
    if (sender != nullptr) {
        size_t senderLength = strnlen(sender, 63);
        if (length > sizeof matchRoom - senderLength - 1) length = sizeof matchRoom - senderLength - 1;
        memcpy(matchRoom, sender, senderLength);
        matchRoom[senderLength] = ' ';
        memcpy(matchRoom + senderLength + 1, text, length);
        text = matchRoom;
        length += senderLength + 1;
    }
    bool wanted = grep.count == 0 && livePattern == nullptr;
    size_t begin = 0;
    size_t end = 0;
    if (!wanted) wanted = AnyMatches(grep, text, length);
    if (!wanted && livePattern != nullptr)
        wanted = PatternFind(livePattern, text, length, 0, &begin, &end);
    if (wanted && AnyMatches(exclude, text, length)) wanted = false;
    if (!wanted) ++filteredLines;
    return wanted;
}

uint64_t FilteredLineCount() { return filteredLines; }

bool HighlightWanted() { return highlight.count > 0; }

const char* HighlightRecord(const char* record, size_t length, size_t from, size_t* outLength) {
    *outLength = length;
    if (highlight.count == 0 || length > sizeof highlighted - 64 * kHighlightSequences) return record;
    size_t textEnd = length;
    if (textEnd > from && record[textEnd - 1] == '\n') --textEnd;
    if (textEnd > from && record[textEnd - 1] == '\r') --textEnd;
    size_t copied = 0;  // bytes of `record` already in `highlighted`
    size_t out = 0;
    size_t at = from;
    int spans = 0;
    while (at < textEnd && spans < 64) {
        // The earliest match of any highlight pattern from `at` on; the longest of those that
        // begin there.
        size_t bestBegin = textEnd;
        size_t bestEnd = textEnd;
        for (int i = 0; i < highlight.count; ++i) {
            size_t begin = 0;
            size_t end = 0;
            if (!PatternFind(highlight.patterns[i], record, textEnd, at, &begin, &end)) continue;
            if (end == begin) continue;  // an empty match shows nothing
            if (begin < bestBegin || (begin == bestBegin && end > bestEnd)) {
                bestBegin = begin;
                bestEnd = end;
            }
        }
        if (bestBegin == textEnd) break;
        memcpy(highlighted + out, record + copied, bestBegin - copied);
        out += bestBegin - copied;
        memcpy(highlighted + out, "\x1b[7m", 4);
        out += 4;
        memcpy(highlighted + out, record + bestBegin, bestEnd - bestBegin);
        out += bestEnd - bestBegin;
        memcpy(highlighted + out, "\x1b[27m", 5);
        out += 5;
        copied = at = bestEnd;
        ++spans;
    }
    if (spans == 0) return record;
    memcpy(highlighted + out, record + copied, length - copied);
    *outLength = out + length - copied;
    return highlighted;
}

size_t FormatFilterStatus(char* out, size_t size) {
    size_t length = 0;
    bool fits = Append(out, size, &length, "-- showing ");
    int shown = 0;
    for (int i = 0; fits && i < grep.count; ++i)
        fits = AppendQuoted(out, size, &length, grep.texts[i], shown++ == 0 ? "lines matching " : " or ");
    if (fits && livePattern != nullptr)
        fits = AppendQuoted(out, size, &length, liveText, shown++ == 0 ? "lines matching " : " or ");
    for (int i = 0; fits && i < exclude.count; ++i) {
        const char* before = i > 0 ? " or " : shown > 0 ? ", not matching " : "lines not matching ";
        fits = AppendQuoted(out, size, &length, exclude.texts[i], before);
    }
    if (fits && shown == 0 && exclude.count == 0) fits = Append(out, size, &length, "every line --\n");
    else if (fits) fits = Append(out, size, &length, " (the log file keeps every line) --\n");
    if (!fits) {  // patterns too long for the line: the line says so rather than being cut
        length = 0;
        Append(out, size, &length, "-- showing filtered lines (the log file keeps every line) --\n");
    }
    out[length] = '\0';
    return length;
}
