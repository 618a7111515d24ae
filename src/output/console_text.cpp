// Text shaping for the console: time prefix and escaping of control bytes.
#include "output/console_text.h"

#include <cstring>

namespace {

// The length of the well-formed UTF-8 sequence that starts at `bytes`, or 0 when none does: a
// continuation byte on its own, a lead byte without its continuation, an overlong form, a
// surrogate or a code point beyond U+10FFFF.
size_t Utf8SequenceLength(const unsigned char* bytes, size_t left) {
    unsigned char lead = bytes[0];
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    unsigned char low = 0x80;   // the second byte's range, narrower after some lead bytes
    unsigned char high = 0xBF;
    if (lead < 0xC2 || lead > 0xF4) return 0;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (left < length || bytes[1] < low || bytes[1] > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return 0;
    }
    return length;
}

// Writes `code` as <9B>; returns the bytes written.
size_t WriteCode(unsigned char code, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    out[0] = '<';
    out[1] = kHex[code >> 4];
    out[2] = kHex[code & 0x0F];
    out[3] = '>';
    return 4;
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
            continue;
        }
        size_t sequence = byte >= 0x80 ? Utf8SequenceLength(bytes + i, length - i) : 1;
        if (sequence == 2 && byte == 0xC2 && bytes[i + 1] <= 0x9F) {
            // A C1 control in UTF-8 form: a terminal that reads UTF-8 acts on it as on the 8-bit
            // control (C2 9B is CSI, C2 9D is OSC).
            at += WriteCode(bytes[++i], out + at);
        } else if (sequence == 0 && byte <= 0x9F) {
            // A bare 8-bit control: a terminal that reads 8-bit controls takes 0x9B as CSI.
            at += WriteCode(byte, out + at);
        } else {
            // Plain text, a whole UTF-8 character, or a stray byte that no terminal acts on.
            if (sequence == 0) sequence = 1;
            memcpy(out + at, text + i, sequence);
            at += sequence;
            i += sequence - 1;
        }
    }
    return at;
}
