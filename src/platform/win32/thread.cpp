// Thread service on Windows: CreateThread with a trampoline in the system's calling convention.
#include "platform/thread.h"

#include <windows.h>

#include <new>

struct PlatThreadObject {
    HANDLE handle;
    PlatThreadBody body;
    intptr_t argument;
};

namespace {

// WINAPI matters on 32-bit Windows, where a thread procedure must pop its own argument
// (stdcall); a cdecl body there would corrupt the stack when the thread returns.
DWORD WINAPI ThreadTrampoline(LPVOID parameter) {
    auto* thread = static_cast<PlatThreadObject*>(parameter);
    thread->body(thread->argument);
    return 0;
}

}  // namespace

PlatThread PlatThreadStart(PlatThreadBody body, intptr_t argument) {
    auto* thread = new (std::nothrow) PlatThreadObject{nullptr, body, argument};
    if (thread == nullptr) return nullptr;
    // Default security and stack size; the thread runs at once.
    thread->handle = CreateThread(nullptr, 0, ThreadTrampoline, thread, 0, nullptr);
    if (thread->handle == nullptr) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void PlatThreadJoin(PlatThread thread) {
    if (thread == nullptr) return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

void PlatSleepMs(int ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

void PlatSleepUs(int us) {
    // Sleep() counts in whole timer ticks (often 15.6 ms), far too coarse for a short gathering
    // wait; giving up the rest of the time slice is the nearest bounded equivalent.
    if (us > 0) Sleep(0);
}

void PlatLowerThreadPriority() {
    // Background mode lowers the thread's disk and memory priority as well as its processor one.
    if (!SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN))
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
}
