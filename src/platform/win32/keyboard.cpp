// Keyboard service on Windows: key presses from the console through _kbhit and _getch, and, when
// standard input is a pipe or a file, each byte read from it as a key press.
#include "platform/keyboard.h"

#include <conio.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

// Bytes from a redirected standard input, handed from the reader thread to the main thread.
// One producer and one consumer; each index is written by one side only.
constexpr uint32_t kPipeKeyRoom = 64;
unsigned char pipeKeys[kPipeKeyRoom];
std::atomic<uint32_t> pipeKeysRead{0};
std::atomic<uint32_t> pipeKeysWritten{0};

bool started = false;
bool pipeReaderRunning = false;
bool consoleKeys = false;

// Blocks in reads of standard input until its end (after which no key ever waits again) or the
// process's end: a blocking read is the one way that works on every kind of pipe.
DWORD WINAPI PipeReaderProc(LPVOID parameter) {
    HANDLE input = static_cast<HANDLE>(parameter);
    for (;;) {
        unsigned char byte;
        DWORD got = 0;
        if (!ReadFile(input, &byte, 1, &got, nullptr) || got == 0) break;
        uint32_t written = pipeKeysWritten.load(std::memory_order_relaxed);
        while (written - pipeKeysRead.load(std::memory_order_acquire) == kPipeKeyRoom) Sleep(10);
        pipeKeys[written % kPipeKeyRoom] = byte;
        pipeKeysWritten.store(written + 1, std::memory_order_release);
    }
    return 0;
}

bool PipeKeyWaiting() {
    return pipeKeysRead.load(std::memory_order_relaxed) !=
           pipeKeysWritten.load(std::memory_order_acquire);
}

}  // namespace

void PlatKeyboardStart() {
    if (started) return;
    started = true;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    bool inputIsConsole = input != nullptr && input != INVALID_HANDLE_VALUE &&
                          GetConsoleMode(input, &mode);
    // _kbhit and _getch read the console itself, whatever standard input is, so the console's
    // keys count as well when standard input is redirected.
    consoleKeys = inputIsConsole || GetConsoleWindow() != nullptr;
    if (inputIsConsole || input == nullptr || input == INVALID_HANDLE_VALUE) return;
    HANDLE reader = CreateThread(nullptr, 0, PipeReaderProc, input, 0, nullptr);
    if (reader == nullptr) return;
    CloseHandle(reader);
    pipeReaderRunning = true;
}

bool PlatKeyWaiting() {
    if (pipeReaderRunning && PipeKeyWaiting()) return true;
    return consoleKeys && _kbhit() != 0;
}

int PlatReadKey() {
    if (pipeReaderRunning && PipeKeyWaiting()) {
        uint32_t read = pipeKeysRead.load(std::memory_order_relaxed);
        int key = pipeKeys[read % kPipeKeyRoom];
        pipeKeysRead.store(read + 1, std::memory_order_release);
        return key;
    }
    if (consoleKeys && _kbhit() != 0) return _getch();
    return -1;
}

void PlatKeyboardRestore() {
    // The console's input mode is never changed, so there is nothing to put back.
}
