// Where the line assembler hands what it makes: each record with its colour and what it carries,
// and its diagnostics for the console. A function and a context, so that the server, the tests and
// the fuzz target each give their own.
#pragma once

#include <cstddef>
#include <cstdint>

/// What a line carries besides its colour and text.
struct LineMeta {
    /// The sender's address as shown ("192.0.2.7:5000", "[2001:db8::7]:5000"), or nullptr when
    /// it is not known.
    const char* sender = nullptr;
    /// Leading bytes of the text that the log file keeps but the console does not show.
    int consoleSkip = 0;
};

struct LineSink {
    /// One record: `length` bytes of text ending in a line feed, with a NUL behind them.
    void (*record)(void* context, uint16_t attribute, const char* text, size_t length,
                   const LineMeta& meta);
    /// A diagnostic for the console only, `length` bytes.
    void (*message)(void* context, const char* text, size_t length);
    void* context;
};
