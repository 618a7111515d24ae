// Console output service on Windows: console character attributes through the Win32 console,
// plain bytes when standard output is a pipe or a file.
#include "platform/console.h"

#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

constexpr SHORT kBufferColumns = 128;
constexpr SHORT kBufferRows = 500;

// Colour needs the console's attributes: into a pipe or a file records go without colour, even
// when the choice is Always.
ConsoleColors colorChoice = ConsoleColors::Auto;

HANDLE OutputHandle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void StartConsoleWriter();  // below, with the writer thread

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
    StartConsoleWriter();
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

// A console window the user holds (a selection in QuickEdit mode, the scroll bar held) stops every
// write to it, for as long as the user likes. So records for a console go through a bounded buffer
// to a writer thread of their own, and the log never waits for the console: what the buffer cannot
// take at once is refused, skipped whole and counted by the caller, as a lagging terminal's is on
// POSIX. A pipe or a file is written directly, as it never stops for long.
namespace {

constexpr size_t kQueueBytes = 256 * 1024;  // about 2,500 lines of 100 bytes
constexpr uint32_t kLongestQueued = 64 * 1024;

struct QueuedHeader {
    uint32_t length;
    uint16_t attribute;
    uint16_t plain;
};

// One producer (the main thread), one consumer (the writer thread); the counters only grow.
char queue[kQueueBytes];
std::atomic<size_t> queueHead{0};  // bytes ever put in
std::atomic<size_t> queueTail{0};  // bytes ever taken out
HANDLE writerWake = nullptr;
HANDLE writerThread = nullptr;
std::atomic<bool> writerGiveUp{false};

void CopyIn(size_t at, const void* data, size_t length) {
    size_t offset = at % kQueueBytes;
    size_t first = length < kQueueBytes - offset ? length : kQueueBytes - offset;
    memcpy(queue + offset, data, first);
    memcpy(queue, static_cast<const char*>(data) + first, length - first);
}

void CopyOut(size_t at, void* data, size_t length) {
    size_t offset = at % kQueueBytes;
    size_t first = length < kQueueBytes - offset ? length : kQueueBytes - offset;
    memcpy(data, queue + offset, first);
    memcpy(static_cast<char*>(data) + first, queue, length - first);
}

// Queues a record for the writer thread; false, with nothing queued, when there is no room.
bool Queue(uint16_t attribute, bool plain, const char* data, size_t length) {
    if (writerGiveUp.load(std::memory_order_relaxed)) return true;  // dropped, as on POSIX
    size_t head = queueHead.load(std::memory_order_relaxed);
    size_t used = head - queueTail.load(std::memory_order_acquire);
    if (length > kLongestQueued || sizeof(QueuedHeader) + length > kQueueBytes - used) return false;
    QueuedHeader header = {static_cast<uint32_t>(length), attribute, static_cast<uint16_t>(plain)};
    CopyIn(head, &header, sizeof header);
    CopyIn(head + sizeof header, data, length);
    queueHead.store(head + sizeof header + length, std::memory_order_release);
    return true;
}

DWORD WINAPI ConsoleWriter(LPVOID) {
    static char record[kLongestQueued];
    for (;;) {
        size_t tail = queueTail.load(std::memory_order_relaxed);
        if (tail == queueHead.load(std::memory_order_acquire)) {
            WaitForSingleObject(writerWake, 100);
            continue;
        }
        QueuedHeader header;
        CopyOut(tail, &header, sizeof header);
        CopyOut(tail + sizeof header, record, header.length);
        if (!writerGiveUp.load(std::memory_order_relaxed)) {
            if (header.plain != 0) {
                fwrite(record, 1, header.length, stdout);
            } else {
                PlatConsoleWrite(header.attribute, record, header.length);
            }
        }
        queueTail.store(tail + sizeof header + header.length, std::memory_order_release);
    }
}

bool WriterRuns() { return writerThread != nullptr; }

void StartConsoleWriter() {
    if (WriterRuns() || !IsConsoleHandle(OutputHandle())) return;
    writerWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (writerWake == nullptr) return;
    // Never joined: it may be stuck in a held console when the process ends, which ends it.
    writerThread = CreateThread(nullptr, 0, ConsoleWriter, nullptr, 0, nullptr);
}

}  // namespace

bool PlatConsoleTryWrite(uint16_t attribute, const char* data, size_t length) {
    if (!WriterRuns()) {
        PlatConsoleWrite(attribute, data, length);
        return true;
    }
    bool queued = Queue(attribute, false, data, length);
    SetEvent(writerWake);
    return queued;
}

int PlatConsoleTryWriteRecords(const PlatConsoleRecord* records, int count) {
    if (count > kPlatConsoleRecordsPerWrite) count = kPlatConsoleRecordsPerWrite;
    int taken = 0;
    while (taken < count) {
        const PlatConsoleRecord& record = records[taken];
        bool queued = !WriterRuns() ? (PlatConsoleWrite(record.attribute, record.data, record.length), true)
                      : Queue(record.plain ? kNormalAttribute : record.attribute, record.plain,
                              record.data, record.length);
        if (!queued) break;
        ++taken;
    }
    if (WriterRuns()) SetEvent(writerWake);
    return taken;
}

bool PlatConsoleFinish(int timeoutMs) {
    for (int waited = 0; WriterRuns() && !writerGiveUp.load(std::memory_order_relaxed); ++waited) {
        if (queueTail.load(std::memory_order_acquire) == queueHead.load(std::memory_order_relaxed))
            return true;
        if (waited >= timeoutMs) return false;
        Sleep(1);
    }
    return true;
}

void PlatConsoleGiveUp() { writerGiveUp.store(true, std::memory_order_relaxed); }

bool PlatConsoleTryWriteText(const char* data, size_t length) {
    if (!WriterRuns()) {
        fwrite(data, 1, length, stdout);
        return true;
    }
    bool queued = Queue(kNormalAttribute, true, data, length);
    SetEvent(writerWake);
    return queued;
}

bool PlatConsoleWriteTextWithin(const char* data, size_t length, int timeoutMs) {
    for (int waited = 0;; ++waited) {
        if (PlatConsoleTryWriteText(data, length)) {
            PlatConsoleFinish(timeoutMs - waited);
            return true;
        }
        if (waited >= timeoutMs) return false;
        Sleep(1);
    }
}

bool PlatErrorWriteWithin(const char* data, size_t length, int) {
    return fwrite(data, 1, length, stderr) == length;
}

