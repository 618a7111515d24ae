// Console output service: set-up, clearing, and writing bytes in a console attribute.
#pragma once

#include <cstddef>
#include <cstdint>

/// The attribute to which console output always returns (light grey on black).
constexpr uint16_t kNormalAttribute = 7;

/// Makes standard output and standard error unbuffered, so every message reaches the console at once.
void PlatConsoleSetup();

/// True when standard output is an interactive terminal (colours and escaping apply).
bool PlatConsoleIsTerminal();

/// Clears the console and puts the cursor at the top-left corner; does nothing off a terminal.
void PlatConsoleClear();

/// Writes `length` bytes to standard output in one go, shown in `attribute`, then returns the
/// console to the normal attribute. Off a terminal the bytes are written as they are, with no
/// colour. Never reads `data` as a format string.
void PlatConsoleWrite(uint16_t attribute, const char* data, size_t length);

/// As PlatConsoleWrite, but never keeps the caller waiting on a slow console (a terminal or a
/// pipe whose reader lags): false, with nothing shown, when the console cannot take the bytes now.
/// The end of a record the console took only in part is kept and written before anything else
/// once it can take more, so no line is cut. Elsewhere (a file, /dev/null) it writes as
/// PlatConsoleWrite does and answers true.
bool PlatConsoleTryWrite(uint16_t attribute, const char* data, size_t length);

/// Waits up to `timeoutMs` milliseconds for the console to take the end of a record it took only
/// in part.
void PlatConsoleFinish(int timeoutMs);

/// True when standard output goes nowhere (/dev/null): console writes are then skipped, and a
/// caller need not keep what it shows in step with anything else.
bool PlatConsoleDiscarded();
