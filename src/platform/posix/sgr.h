// ANSI colour sequences for console attributes.
#pragma once

#include <cstddef>
#include <cstdint>

/// Room for the longest sequence FormatSgr writes, with its terminator.
constexpr size_t kSgrSize = 16;

/// Writes the select-graphic-rendition sequence that shows `attribute` (foreground in bits 0-3,
/// background in bits 4-7: blue 1, green 2, red 4, intensity 8) into `out` and returns its length.
/// The normal attribute 7 is a reset to the terminal's own colours, ESC[0m.
size_t FormatSgr(uint16_t attribute, char* out);
