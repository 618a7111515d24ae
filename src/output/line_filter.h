// The console's filters and highlights: --grep, --exclude, the live filter of the `/` key and
// --highlight. They choose what the console shows and how; the log file and forwarding keep every
// line. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

enum class PatternRole : uint8_t {
    Grep,       // a line is shown when it matches any of these (or there are none)
    Exclude,    // a line is never shown when it matches any of these
    Highlight,  // matching text is shown in reverse video
};

/// Patterns of each role, at most.
constexpr int kMaxPatternsPerRole = 16;

/// Patterns added afterwards (the live one too) ignore case.
void SetPatternsIgnoreCase(bool ignoreCase);

/// Compiles and adds a pattern; false with the library's reason in `error` when it is bad or
/// there are kMaxPatternsPerRole of its role already.
bool AddLinePattern(PatternRole role, const char* text, char* error, size_t errorSize);

/// Replaces the live filter (the `/` key's), which counts as one more --grep pattern; an empty
/// text removes it. A bad pattern leaves the live filter as it was: false with the reason.
bool SetLiveFilter(const char* text, char* error, size_t errorSize);

/// True when a --grep or --exclude pattern was given or the live filter was ever set.
bool LineFilterEverUsed();

/// Whether the console shows the line whose text (NUL-terminated, without the time prefix; a
/// final line end is not matched) is `text`, after `sender` and a space when `sender` is not
/// nullptr. Counts the lines it hides.
bool ConsoleShowsLine(const char* sender, const char* text);

/// Lines ConsoleShowsLine has hidden so far.
uint64_t FilteredLineCount();

/// True when --highlight patterns were given.
bool HighlightWanted();

/// The record `record` (a console record: prefix, text, line end) with the text matched by the
/// --highlight patterns from `from` on wrapped in reverse video; returns `record` itself when
/// nothing matched. The result lives until the next call.
const char* HighlightRecord(const char* record, size_t length, size_t from, size_t* outLength);

/// The status line that tells what the console now shows, such as
/// "-- showing lines matching 'board A' (the log file keeps every line) --", with a line feed.
size_t FormatFilterStatus(char* out, size_t size);
