// Text shaping for the console: time prefix and escaping of control bytes.
#include "output/console_text.h"

namespace {

// A C1 control (U+0080 to U+009F) in its two-byte UTF-8 form, C2 80 to C2 9F: a terminal that
// reads UTF-8 acts on it as on the 8-bit control (C2 9B is CSI, C2 9D is OSC).
bool IsUtf8C1(const unsigned char* bytes, size_t left) {
    return left >= 2 && bytes[0] == 0xC2 && bytes[1] >= 0x80 && bytes[1] <= 0x9F;
}

}  // namespace

size_t FormatTimePrefix(const std::tm& now, char* out, int milliseconds) {
    // Written by hand rather than with a format call: this runs for every line.
    int fields[3] = {now.tm_hour, now.tm_min, now.tm_sec};
    size_t at = 0;
    for (int value : fields) {
        if (value < 0 || value > 99) value = 0;
        out[at++] = static_cast<char>('0' + value / 10);
        out[at++] = static_cast<char>('0' + value % 10);
    }
    if (milliseconds >= 0 && milliseconds <= 999) {
        out[at++] = '.';
        out[at++] = static_cast<char>('0' + milliseconds / 100);
        out[at++] = static_cast<char>('0' + milliseconds / 10 % 10);
        out[at++] = static_cast<char>('0' + milliseconds % 10);
    }
    out[at++] = ':';
    out[at++] = ' ';
    out[at] = '\0';
    return at;
}

size_t EscapeForTerminal(const char* text, size_t length, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t keepEnd = 0;
    if (length >= 1 && text[length - 1] == '\n') keepEnd = 1;
    if (keepEnd == 1 && length >= 2 && text[length - 2] == '\r') keepEnd = 2;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t at = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = bytes[i];
        bool control = (byte < 0x20 && byte != '\t') || byte == 0x7F;
        if (control && i < length - keepEnd) {
            out[at++] = '^';
            out[at++] = byte == 0x7F ? '?' : static_cast<char>(byte + 0x40);
        } else if (IsUtf8C1(bytes + i, length - i)) {
            // Two bytes in, four out (<9B>): within the room of two per byte.
            unsigned char code = bytes[++i];
            out[at++] = '<';
            out[at++] = kHex[code >> 4];
            out[at++] = kHex[code & 0x0F];
            out[at++] = '>';
        } else {
            out[at++] = static_cast<char>(byte);
        }
    }
    return at;
}
