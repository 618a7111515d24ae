// The records held while the console is paused, in one block taken once and used again.
#include "output/pause_buffer.h"

#include <cstdlib>
#include <cstring>

namespace {

struct HeldRecord {
    uint32_t offset;
    uint32_t length;
    uint16_t attribute;
};

char* heldBytes = nullptr;         // kPauseHeldBytes, or nullptr until the first pause
HeldRecord* held = nullptr;        // kPauseHeldLines entries
uint32_t heldCount = 0;
uint32_t shownCount = 0;           // records already given back to the console
size_t bytesUsed = 0;
uint32_t overflow = 0;

}  // namespace

bool PauseBufferReserve() {
    if (heldBytes != nullptr) return true;
    // Kept for the rest of the run: a user who paused once will likely pause again.
    heldBytes = static_cast<char*>(malloc(kPauseHeldBytes));
    held = static_cast<HeldRecord*>(malloc(kPauseHeldLines * sizeof(HeldRecord)));
    if (heldBytes == nullptr || held == nullptr) {
        free(heldBytes);
        free(held);
        heldBytes = nullptr;
        held = nullptr;
        return false;
    }
    return true;
}

bool PauseBufferKeep(uint16_t attribute, const char* bytes, size_t length) {
    if (heldBytes == nullptr || heldCount == kPauseHeldLines || length > kPauseHeldBytes - bytesUsed) {
        ++overflow;
        return false;
    }
    memcpy(heldBytes + bytesUsed, bytes, length);
    held[heldCount++] = {static_cast<uint32_t>(bytesUsed), static_cast<uint32_t>(length), attribute};
    bytesUsed += length;
    return true;
}

bool PauseBufferPeek(uint16_t* attribute, const char** bytes, size_t* length) {
    if (shownCount == heldCount) return false;
    const HeldRecord& record = held[shownCount];
    *attribute = record.attribute;
    *bytes = heldBytes + record.offset;
    *length = record.length;
    return true;
}

void PauseBufferPop() {
    if (shownCount < heldCount) ++shownCount;
    if (shownCount == heldCount) {
        shownCount = 0;
        heldCount = 0;
        bytesUsed = 0;
    }
}

uint32_t PauseBufferOverflow() { return overflow; }

void PauseBufferForgetOverflow() { overflow = 0; }
