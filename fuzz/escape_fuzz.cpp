// Fuzz target: the escaping of a line's bytes for the terminal. Every input byte must come out
// once, in order, either as itself or in its caret form, and every C1 control (in UTF-8 form, or
// a bare byte 0x80 to 0x9F outside a well-formed UTF-8 character) as its code in hex (<9B>),
// within the documented room. What reaches the terminal holds no raw control byte but TAB and the
// line's own final LF or CR LF, and no byte 0x80 to 0x9F outside a well-formed UTF-8 character.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "output/console_text.h"

namespace {

bool IsControl(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

// The length of the well-formed UTF-8 character at `bytes` (0: none), worked out by decoding it,
// with its code point in `*code`.
size_t Character(const uint8_t* bytes, size_t left, uint32_t* code) {
    static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};  // shortest form's floor
    size_t length = (bytes[0] & 0xE0) == 0xC0 ? 2 : (bytes[0] & 0xF0) == 0xE0 ? 3
                  : (bytes[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || left < length) return 0;
    uint32_t value = bytes[0] & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return 0;
        value = value << 6 | (bytes[i] & 0x3F);
    }
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

bool Expect(const char* out, size_t written, size_t* at, const char* want, size_t length) {
    if (*at + length > written || memcmp(out + *at, want, length) != 0) return false;
    *at += length;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // Exactly the documented room, on the heap, so that one byte more is caught.
    const size_t room = kEscapedBytesPerByte * size;
    std::unique_ptr<char[]> out(new char[room]);
    const size_t written = EscapeForTerminal(text, size, out.get());
    if (written > room) abort();

    size_t keptEnd = 0;
    if (size >= 1 && text[size - 1] == '\n') keptEnd = (size >= 2 && text[size - 2] == '\r') ? 2 : 1;

    size_t at = 0;
    for (size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        uint32_t code = 0;
        size_t length = byte >= 0x80 ? Character(data + i, size - i, &code) : 0;
        char want[5];
        bool ok;
        if (IsControl(byte) && i < size - keptEnd) {
            const char caret[2] = {'^', byte == 0x7F ? '?' : static_cast<char>(byte + 0x40)};
            ok = Expect(out.get(), written, &at, caret, 2);
        } else if ((length == 2 && code <= 0x9F) || (length == 0 && byte >= 0x80 && byte <= 0x9F)) {
            snprintf(want, sizeof want, "<%02X>", static_cast<unsigned>(length == 2 ? code : byte));
            ok = Expect(out.get(), written, &at, want, 4);
            i += length == 2 ? 1 : 0;
        } else {
            if (length == 0) length = 1;
            ok = Expect(out.get(), written, &at, text + i, length);
            i += length - 1;
        }
        if (!ok) abort();
    }
    if (at != written) abort();  // nothing added, nothing duplicated

    // What the terminal reads.
    const auto* shown = reinterpret_cast<const uint8_t*>(out.get());
    for (size_t i = 0; i < written; ++i) {
        uint32_t code = 0;
        size_t length = shown[i] >= 0x80 ? Character(shown + i, written - i, &code) : 0;
        if (length > 0 && code > 0x9F) {
            i += length - 1;
        } else if ((shown[i] >= 0x80 && shown[i] <= 0x9F) || length > 0 ||
                   (IsControl(shown[i]) && i < written - keptEnd)) {
            abort();
        }
    }
    return 0;
}
