// Fuzz target: the forwarded message of a line. The first input byte splits the rest into a
// sender's address and the line's bytes. Invariants: the message starts with its header, the
// structured data unescapes to the sender's address without port and brackets, MSG holds the
// line's bytes exactly (without one final LF or CR LF, cut only at the longest message), and the
// octet-counting frame states the message's length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "output/syslog_format.h"

namespace {

char message[kMaxSyslogMessage];

std::string AddressOf(const std::string& sender) {
    if (!sender.empty() && sender[0] == '[') {
        size_t close = sender.find(']');
        return close == std::string::npos ? sender.substr(1) : sender.substr(1, close - 1);
    }
    size_t colon = sender.rfind(':');
    return colon == std::string::npos ? sender : sender.substr(0, colon);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t senderLength = data[0] < size - 1 ? data[0] : size - 1;
    bool withSender = data[0] != 0xFF;
    // The sender is text the pipeline formats: NUL-terminated, so no NUL inside.
    std::string sender(reinterpret_cast<const char*>(data + 1), senderLength);
    sender = sender.substr(0, strnlen(sender.c_str(), sender.size()));
    const char* text = reinterpret_cast<const char*>(data + 1 + senderLength);
    int textLength = static_cast<int>(size - 1 - senderLength);

    SyslogHeader header = {191, "2026-12-09T10:11:12.345+01:00", "host", withSender ? sender.c_str() : nullptr};
    int length = FormatSyslogMessage(header, text, textLength, message);
    Check(length >= 0 && length <= kMaxSyslogMessage, "length within the room");
    std::string out(message, static_cast<size_t>(length));
    const std::string head = "<191>1 2026-12-09T10:11:12.345+01:00 host udptrail - - ";
    Check(out.compare(0, head.size(), head) == 0, "header");

    size_t at = head.size();
    if (!withSender) {
        Check(out.compare(at, 2, "- ") == 0, "nil structured data");
        at += 2;
    } else {
        const std::string open = "[origin ip=\"";
        Check(out.compare(at, open.size(), open) == 0, "structured data opens");
        at += open.size();
        std::string value;
        while (at < out.size() && out[at] != '"') {
            if (out[at] == '\\') ++at;
            Check(out[at] != ']' || out[at - 1] == '\\', "no bare ] in the value");
            value += out[at++];
        }
        Check(out.compare(at, 3, "\"] ") == 0, "structured data closes");
        at += 3;
        Check(value == AddressOf(sender), "the value is the address");
    }

    size_t expected = static_cast<size_t>(textLength);
    if (expected > 0 && text[expected - 1] == '\n') {
        --expected;
        if (expected > 0 && text[expected - 1] == '\r') --expected;
    }
    size_t kept = out.size() - at;
    Check(kept == expected || (kept < expected && out.size() == static_cast<size_t>(kMaxSyslogMessage)),
          "all of the text, or cut only at the longest message");
    Check(memcmp(out.data() + at, text, kept) == 0, "MSG holds the text's bytes");

    char frame[kSyslogFrameHeaderSize];
    int frameLength = FormatFrameHeader(length, frame);
    Check(frameLength > 1 && frame[frameLength - 1] == ' ' && atoi(frame) == length, "frame length");
    return 0;
}
