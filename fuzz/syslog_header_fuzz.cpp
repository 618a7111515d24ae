// Fuzz target: the header parser of --syslog messages, the console's form and the relayed message.
// Invariants: nothing is read past the message (it lies in a buffer of its exact size); the parts
// are in order, apart and within the message; MSG runs to the end; every byte outside the parts
// is syntax (the <PRI>, the version, spaces, a PID's brackets, a tag's colon, a BOM); the console
// form is no longer than the message and 4 bytes; the relay starts with the message's own <PRI>.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "intake/syslog_header.h"
#include "output/syslog_format.h"

namespace {

char relay[kMaxSyslogMessage];

bool IsSyntax(unsigned char c) {
    return c == '<' || c == '>' || (c >= '0' && c <= '9') || c == ' ' || c == '[' || c == ']' ||
           c == ':' || c == 0xEF || c == 0xBB || c == 0xBF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::vector<char> exact(data, data + size);  // ASan sees a read one past its end
    const char* message = exact.data();
    const int length = static_cast<int>(size);
    SyslogHeaderParts parts = ParseSyslogHeader(message, length);

    const SyslogPart* ordered[] = {&parts.timestamp, &parts.hostname,       &parts.appName, &parts.procId,
                                   &parts.msgId,     &parts.structuredData, &parts.msg};
    std::vector<bool> inPart(size, false);
    int previousEnd = 0;
    for (const SyslogPart* part : ordered) {
        if (part->length == 0 && part != &parts.msg) continue;
        Check(part->at >= previousEnd && part->length >= 0 && part->at + part->length <= length,
              "parts in order, apart, within the message");
        for (int i = part->at; i < part->at + part->length; ++i) inPart[static_cast<size_t>(i)] = true;
        previousEnd = part->at + part->length;
    }
    Check(parts.msg.at + parts.msg.length == length, "MSG runs to the end");
    Check(parts.form == SyslogForm::None || parts.priority >= 0, "a header has a <PRI>");
    for (size_t i = 0; i < size; ++i) {
        if (!inPart[i]) Check(IsSyntax(static_cast<unsigned char>(message[i])), "a byte outside the parts is syntax");
    }

    std::vector<char> shown(size + 4);
    int shownLength = FormatSyslogConsoleText(message, length, parts, shown.data());
    Check(shownLength >= parts.msg.length && shownLength <= length + 4, "the console form fits");
    Check(parts.msg.length == 0 ||
              memcmp(shown.data() + shownLength - parts.msg.length, message + parts.msg.at,
                     static_cast<size_t>(parts.msg.length)) == 0,
          "the console form ends with MSG");

    if (parts.priority >= 0) {
        SyslogRelayContext context = {"2026-12-09T10:11:12.345+01:00", 2026, 3600, "192.0.2.7:5000"};
        int relayLength = FormatSyslogRelay(message, length, parts, context, relay);
        std::string pri = "<" + std::to_string(parts.priority) + ">1 ";
        Check(relayLength >= static_cast<int>(pri.size()) && memcmp(relay, pri.data(), pri.size()) == 0,
              "the relay keeps the <PRI>");
    }
    return 0;
}
