// Where the line assembler hands what it makes: each record with its colour and what it carries,
// and its diagnostics for the console. A function and a context, so that the server, the tests and
// the fuzz target each give their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/record.h"  // LineMeta

struct LineSink {
    /// One record: `length` bytes of text ending in a line feed, with a NUL behind them.
    void (*record)(void* context, uint16_t attribute, const char* text, size_t length,
                   const LineMeta& meta);
    /// A diagnostic for the console only, `length` bytes.
    void (*message)(void* context, const char* text, size_t length);
    void* context;
};
