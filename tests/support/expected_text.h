// What the server prints, byte for byte, and helpers that take its output apart.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace testing_support {

/// `bytes` made readable for a failure message: control bytes as \xNN, a long text cut.
std::string Printable(const std::string& bytes);

/// `text` without CSI escape sequences (ESC [ parameters final-byte).
std::string StripCsi(const std::string& text);

/// Splits `text` after every LF; a last piece without LF is kept as it is.
std::vector<std::string> SplitRecords(const std::string& text);

/// True when `record` starts with a time prefix "HHMMSS: " of a valid time of day.
bool HasTimePrefix(const std::string& record);

/// Checks that `content` is exactly one record per text: a time prefix "HHMMSS: ", then the text;
/// the failure says where it went wrong.
::testing::AssertionResult MatchRecords(const std::string& content,
                                        const std::vector<std::string>& texts);

int CountOccurrences(const std::string& text, const std::string& needle);

/// The settings banner and listening line the server prints at start-up, byte for byte.
std::string ExpectedBanner(const std::string& folder, const std::string& maxFileSize,
                           const std::string& retentionDays, const std::string& port);

/// The two closing lines printed on the way out.
std::string ClosingLines();

/// `text` without the statistics line written last on the way out ("udptrail stats: ...\n"),
/// which must be there; on a terminal it follows the closing lines, as standard error shares it.
std::string WithoutFinalStatistics(const std::string& text);

/// The three usage lines.
std::string UsageText();

/// A datagram holding one line: the colour marker, the text and a line feed.
std::string Line(const std::string& text, char marker = '\xe7');

/// Checks that the only clear-screen in the terminal's raw output is the start-up one, and that
/// none of the `forbidden` sequences reached it.
void ExpectNoRawControls(const std::string& raw, std::initializer_list<const char*> forbidden);

}  // namespace testing_support
