// Fuzz target: the escaping of a line's bytes for the terminal. Every input byte must come out
// once, in order, either as itself or in its caret form, and every C1 control in UTF-8 form
// (C2 80 to C2 9F) as its code in hex (<9B>), within twice the input's length; no raw control
// byte may reach the terminal but TAB and the line's own final LF or CR LF.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "output/console_text.h"

namespace {

bool IsControl(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // Exactly the documented room, on the heap, so that one byte more is caught.
    std::unique_ptr<char[]> out(new char[2 * size]);
    const size_t written = EscapeForTerminal(text, size, out.get());
    if (written > 2 * size) abort();

    size_t keptEnd = 0;
    if (size >= 1 && text[size - 1] == '\n') keptEnd = (size >= 2 && text[size - 2] == '\r') ? 2 : 1;

    size_t at = 0;
    for (size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (IsControl(byte) && i < size - keptEnd) {
            const char caret = byte == 0x7F ? '?' : static_cast<char>(byte + 0x40);
            if (at + 2 > written || out[at] != '^' || out[at + 1] != caret) abort();
            at += 2;
        } else if (byte == 0xC2 && i + 1 < size && (data[i + 1] & 0xE0) == 0x80) {
            char hex[5];
            snprintf(hex, sizeof hex, "<%02X>", data[++i]);
            if (at + 4 > written || memcmp(out.get() + at, hex, 4) != 0) abort();
            at += 4;
        } else {
            if (at + 1 > written || out[at] != text[i]) abort();
            ++at;
        }
    }
    if (at != written) abort();  // nothing added, nothing duplicated
    return 0;
}
