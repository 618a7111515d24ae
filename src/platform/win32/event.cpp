// Event service on Windows: an unnamed auto-reset Win32 event; the handle is the PlatEvent itself.
#include "platform/event.h"

#include <windows.h>

namespace {

HANDLE HandleOf(PlatEvent event) { return reinterpret_cast<HANDLE>(event); }

}  // namespace

PlatEvent PlatEventCreate() {
    // Auto-reset, initially not signalled, default security, no name.
    return reinterpret_cast<PlatEvent>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void PlatEventSignal(PlatEvent event) {
    if (event != nullptr) SetEvent(HandleOf(event));
}

void PlatEventReset(PlatEvent event) {
    if (event != nullptr) ResetEvent(HandleOf(event));
}

PlatWaitResult PlatEventWait(PlatEvent event, int timeoutMs) {
    if (event == nullptr) return PlatWaitResult::Failed;
    DWORD timeout = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    switch (WaitForSingleObject(HandleOf(event), timeout)) {
        case WAIT_OBJECT_0: return PlatWaitResult::Signalled;
        case WAIT_TIMEOUT: return PlatWaitResult::TimedOut;
        default: return PlatWaitResult::Failed;
    }
}

void PlatEventClose(PlatEvent event) {
    if (event != nullptr) CloseHandle(HandleOf(event));
}
