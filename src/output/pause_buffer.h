// The console's records held while the user has paused it: up to kPauseHeldLines records or
// kPauseHeldBytes bytes, in room taken once, at the first pause; what does not fit is counted.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kPauseHeldLines = 10000;
constexpr size_t kPauseHeldBytes = 2 * 1024 * 1024;

/// Takes the room for the held records, unless it is taken already; false when it cannot be had
/// (every record a pause skips is then counted instead).
bool PauseBufferReserve();

/// Keeps a record as the console would show it; false (and the record counted as not held) when
/// the buffer is full or has no room.
bool PauseBufferKeep(uint16_t attribute, const char* bytes, size_t length);

/// The oldest record not yet shown; false when none is held.
bool PauseBufferPeek(uint16_t* attribute, const char** bytes, size_t* length);

/// Drops the record PauseBufferPeek gave, once the console has taken it. When the last one goes,
/// the buffer is empty again and its room is used anew.
void PauseBufferPop();

/// Records that did not fit since PauseBufferForgetOverflow.
uint32_t PauseBufferOverflow();
void PauseBufferForgetOverflow();
