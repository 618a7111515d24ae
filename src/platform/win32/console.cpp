// Console output service on Windows: console character attributes through the Win32 console,
// plain bytes when standard output is a pipe or a file.
#include "platform/console.h"

#include <windows.h>

#include <io.h>

#include <cstdio>

namespace {

constexpr SHORT kBufferColumns = 128;
constexpr SHORT kBufferRows = 500;

// Colour needs the console's attributes: into a pipe or a file records go without colour, even
// when the choice is Always.
ConsoleColors colorChoice = ConsoleColors::Auto;

HANDLE OutputHandle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool IsConsoleHandle(HANDLE handle) {
    DWORD mode;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// A process started with no standard output at all (not even a pipe) gets a console of its own,
// and the C streams are attached to it. A process whose output goes to a pipe or a file keeps it.
void AttachOwnConsole() {
    HANDLE output = OutputHandle();
    if (output != nullptr && output != INVALID_HANDLE_VALUE) return;
    if (!AllocConsole()) return;
    FILE* stream;
    freopen_s(&stream, "CONOUT$", "w", stdout);
    freopen_s(&stream, "CONOUT$", "w", stderr);
    freopen_s(&stream, "CONIN$", "r", stdin);
}

}  // namespace

// Windows sockets are handles, never C runtime descriptors, so none can take the place of a
// missing standard stream; a process without standard output gets a console of its own below.
void PlatEnsureStandardDescriptors() {}

void PlatConsoleSetup(ConsoleColors colors) {
    colorChoice = colors;
    AttachOwnConsole();
    HANDLE output = OutputHandle();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(output, &info)) {
        // 128 columns by 500 rows of history; refused (and passed over) when the window is wider.
        COORD size = {kBufferColumns, kBufferRows};
        SetConsoleScreenBufferSize(output, size);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

bool PlatConsoleIsTerminal() { return IsConsoleHandle(OutputHandle()); }

// The console's colours are set with SetConsoleTextAttribute, apart from the text.
bool PlatConsoleInBandAttributes() { return false; }

bool PlatErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void PlatConsoleClear() {
    HANDLE output = OutputHandle();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(output, &info)) return;
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD home = {0, 0};
    DWORD written;
    FillConsoleOutputCharacterA(output, ' ', cells, home, &written);
    // The attribute is read again: it is the one the cleared cells keep.
    if (GetConsoleScreenBufferInfo(output, &info)) {
        FillConsoleOutputAttribute(output, info.wAttributes, cells, home, &written);
    }
    SetConsoleCursorPosition(output, home);
}

void PlatConsoleWrite(uint16_t attribute, const char* data, size_t length) {
    // Through the C stream, like every other message, so a line feed becomes CR LF on a pipe just
    // as printf's do.
    HANDLE output = OutputHandle();
    if (colorChoice == ConsoleColors::Never || !IsConsoleHandle(output)) {
        fwrite(data, 1, length, stdout);
        return;
    }
    // The line end is written after the return to the normal attribute: a line feed that scrolls
    // the console fills the new row with the current attribute, and a blue background would spill
    // into it. The stream stays locked throughout, so that no message of the receiver thread falls
    // inside the record or takes its colour.
    size_t end = length;
    if (end > 0 && data[end - 1] == '\n') --end;
    if (end > 0 && end < length && data[end - 1] == '\r') --end;
    _lock_file(stdout);
    SetConsoleTextAttribute(output, attribute);
    fwrite(data, 1, end, stdout);
    SetConsoleTextAttribute(output, kNormalAttribute);
    fwrite(data + end, 1, length - end, stdout);
    _unlock_file(stdout);
}

// The Windows console is written in place by the console host and does not lag behind the way a
// terminal emulator reading a pseudo-terminal can, so a console write is simply made.
bool PlatConsoleTryWrite(uint16_t attribute, const char* data, size_t length) {
    PlatConsoleWrite(attribute, data, length);
    return true;
}

int PlatConsoleTryWriteRecords(const PlatConsoleRecord* records, int count) {
    if (count > kPlatConsoleRecordsPerWrite) count = kPlatConsoleRecordsPerWrite;
    for (int r = 0; r < count; ++r) {
        const PlatConsoleRecord& record = records[r];
        bool taken = record.plain ? PlatConsoleTryWriteText(record.data, record.length)
                                  : PlatConsoleTryWrite(record.attribute, record.data, record.length);
        if (!taken) return r;
    }
    return count;
}

bool PlatConsoleFinish(int) { return true; }

void PlatConsoleGiveUp() {}

bool PlatConsoleTryWriteText(const char* data, size_t length) {
    fwrite(data, 1, length, stdout);
    return true;
}

bool PlatConsoleWriteTextWithin(const char* data, size_t length, int) {
    return PlatConsoleTryWriteText(data, length);
}

// Standard error is written as it is; the Windows console does not lag (see above).
bool PlatErrorWriteWithin(const char* data, size_t length, int) {
    return fwrite(data, 1, length, stderr) == length;
}

