// Sizes on the command line and in warnings: bytes with an optional K, M, G or T (powers of 1024).
#pragma once

#include <cstddef>
#include <cstdint>

/// Longest size text an option keeps ("20G"); longer ones are refused.
constexpr int kByteSizeTextSize = 24;

/// Reads a whole number of bytes, optionally followed by one of K, M, G, T (or k, m, g, t) that
/// multiplies it by 1024, 1024², 1024³ or 1024⁴. False for anything else, for 0 and for a value
/// beyond 64 bits.
bool ParseByteSize(const char* text, uint64_t* bytes);

/// Writes `bytes` for people into `out` (`room` bytes): "1.9G", "12M", "900"; the figure is cut,
/// never rounded up. Returns `out`.
const char* FormatByteSize(uint64_t bytes, char* out, size_t room);
