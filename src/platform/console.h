// Console output service: set-up, clearing, and writing bytes in a console attribute.
#pragma once

#include <cstddef>
#include <cstdint>

/// The attribute to which console output always returns (light grey on black).
constexpr uint16_t kNormalAttribute = 7;

/// Opens /dev/null on each of standard input, output and error that is closed, so that no socket
/// or file opened later takes its number (a socket as standard input would be read for keys).
/// Called first thing, before anything is opened.
void PlatEnsureStandardDescriptors();

/// Where records are written in colour.
enum class ConsoleColors : uint8_t {
    Auto,    // on a terminal only
    Always,  // into a pipe or a file too (on Windows: the console only)
    Never,   // nowhere
};

/// Makes standard output and standard error unbuffered, so every message reaches the console at
/// once, and takes the colour choice for the records written afterwards.
void PlatConsoleSetup(ConsoleColors colors = ConsoleColors::Auto);

/// True when standard output is an interactive terminal (escaping applies; colours too unless
/// the colour choice says otherwise).
bool PlatConsoleIsTerminal();

/// True when standard error is an interactive terminal.
bool PlatErrorIsTerminal();

/// True when records carry their colours in-band, as escape sequences (a terminal, or wherever
/// the colour choice asks for them on POSIX); other escape sequences may then go with them.
/// False on the Windows console, whose colours are set apart from the text.
bool PlatConsoleInBandAttributes();

/// Clears the console and puts the cursor at the top-left corner; does nothing off a terminal.
void PlatConsoleClear();

/// Writes `length` bytes to standard output in one go, shown in `attribute`, then returns the
/// console to the normal attribute. Without colour (off a terminal, unless the colour choice is
/// Always; with Never anywhere) the bytes are written as they are. Never reads `data` as a format
/// string.
void PlatConsoleWrite(uint16_t attribute, const char* data, size_t length);

/// As PlatConsoleWrite, but never keeps the caller waiting on a slow console (a terminal or a
/// pipe whose reader lags): false, with nothing shown, when the console cannot take the bytes now.
/// The end of a record the console took only in part is kept and written before anything else
/// once it can take more, so no line is cut. Elsewhere (a file, /dev/null) it writes as
/// PlatConsoleWrite does and answers true.
bool PlatConsoleTryWrite(uint16_t attribute, const char* data, size_t length);

/// One record of a batch for PlatConsoleTryWriteRecords.
struct PlatConsoleRecord {
    const char* data;
    uint32_t length;
    uint16_t attribute;
    bool plain;  // a message: written as it is, never coloured
};

/// Most records one PlatConsoleTryWriteRecords call takes.
constexpr int kPlatConsoleRecordsPerWrite = 200;

/// Writes up to kPlatConsoleRecordsPerWrite records in one go, each as PlatConsoleTryWrite (or,
/// when plain, PlatConsoleTryWriteText) would, never keeping the caller waiting. Returns how many
/// leading records the console took; the end of one it took only in part is kept and written
/// before anything else, as PlatConsoleTryWrite does. The records after those are not shown.
int PlatConsoleTryWriteRecords(const PlatConsoleRecord* records, int count);

/// Waits up to `timeoutMs` milliseconds for the console to take the end of a record it took only
/// in part; false when it still owes some.
bool PlatConsoleFinish(int timeoutMs);

/// Gives up a console that still lags at the end of the way out: from now on nothing waits for it
/// and what it still owes is dropped.
void PlatConsoleGiveUp();

/// Writes plain bytes (no colour, nothing added) the way PlatConsoleTryWrite writes a record: in
/// order with the records, never waiting; false, with nothing shown, when the console lags.
bool PlatConsoleTryWriteText(const char* data, size_t length);

/// As PlatConsoleTryWriteText, but gives a lagging console up to `timeoutMs` milliseconds to take
/// the bytes (and what it owes from before). For the way out; false when it did not take them.
bool PlatConsoleWriteTextWithin(const char* data, size_t length, int timeoutMs);

/// Writes bytes to standard error, waiting at most `timeoutMs` milliseconds for a reader that lags
/// (a terminal, a pipe or a socket); true when all were written.
bool PlatErrorWriteWithin(const char* data, size_t length, int timeoutMs);

