// Fuzz target: the escaping of a line's bytes for the terminal. Every input byte must come out
// once, in order, either as itself or in its caret form, and every C1 control (in UTF-8 form, or a
// bare byte 0x80 to 0x9F outside a well-formed UTF-8 character) as its code in hex (<9B>), within
// the documented room. No raw control byte may reach the terminal but TAB and the line's own final
// LF or CR LF, and no byte 0x80 to 0x9F outside a well-formed UTF-8 character.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "output/console_text.h"

namespace {

bool IsControl(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

// The length of the well-formed UTF-8 character at `p` (0: none), found by decoding it.
size_t Character(const uint8_t* p, size_t left, uint32_t* code) {
    size_t length = (p[0] & 0xE0) == 0xC0 ? 2 : (p[0] & 0xF0) == 0xE0 ? 3
                  : (p[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || left < length) return 0;
    *code = p[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        *code = *code << 6 | (p[i] & 0x3F);
    }
    static const uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (*code < kShortest[length] || *code > 0x10FFFF) return 0;
    return *code >= 0xD800 && *code <= 0xDFFF ? 0 : length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // Exactly the documented room, on the heap, so that one byte more is caught.
    std::unique_ptr<char[]> out(new char[kEscapedBytesPerByte * size]);
    const size_t written = EscapeForTerminal(text, size, out.get());
    if (written > kEscapedBytesPerByte * size) abort();

    size_t keptEnd = 0;
    if (size >= 1 && text[size - 1] == '\n') keptEnd = size >= 2 && text[size - 2] == '\r' ? 2 : 1;

    size_t at = 0;
    for (size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        uint32_t code = 0;
        size_t length = byte >= 0x80 ? Character(data + i, size - i, &code) : 0;
        if (IsControl(byte) && i < size - keptEnd) {
            const char caret = byte == 0x7F ? '?' : static_cast<char>(byte + 0x40);
            if (at + 2 > written || out[at] != '^' || out[at + 1] != caret) abort();
            at += 2;
        } else if ((length == 2 && code <= 0x9F) || (length == 0 && byte >= 0x80 && byte <= 0x9F)) {
            char hex[5];
            snprintf(hex, sizeof hex, "<%02X>", data[i += length == 2 ? 1 : 0]);
            if (at + 4 > written || memcmp(out.get() + at, hex, 4) != 0) abort();
            at += 4;
        } else {
            length = length == 0 ? 1 : length;
            if (at + length > written || memcmp(out.get() + at, text + i, length) != 0) abort();
            at += length;
            i += length - 1;
        }
    }
    if (at != written) abort();  // nothing added, nothing duplicated

    // What the terminal reads: no 0x80 to 0x9F but inside a well-formed character.
    const auto* shown = reinterpret_cast<const uint8_t*>(out.get());
    for (size_t i = 0, length; i < written; i += length > 0 ? length : 1) {
        uint32_t code = 0;
        length = Character(shown + i, written - i, &code);
        if (length > 0 ? code <= 0x9F : shown[i] >= 0x80 && shown[i] <= 0x9F) abort();
    }
    return 0;
}
