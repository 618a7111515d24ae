// udptrail-send's command-line parsing (colour, HOST:PORT) and the cutting of text into lines.
#include "send_options.h"

#include "udptrail_client.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct ColourAlias {
    const char* name;
    int attribute;
};

// Other spellings users reach for; "bright-" is handled as "light-".
const ColourAlias kAliases[] = {
    {"gray", 7},       {"normal", 7},    {"light-grey", 7},
    {"light-gray", 7}, {"dark-gray", 8}, {"dark-yellow", 6},
};

bool ParseNumber(const char* text, long* value) {
    if (*text < '0' || *text > '9') return false;  // no sign, no blank
    // Decimal, or hexadecimal after 0x; never octal, so 010 is ten.
    bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    if (*digits == '\0' || *digits == '+' || *digits == '-' || *digits == ' ') return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(digits, &end, hex ? 16 : 10);
    return errno == 0 && *end == '\0';
}

bool ParseColourName(const char* name, size_t length, int* attribute) {
    char normalised[32];
    if (length >= sizeof normalised) return false;
    if (length > 7 && strncasecmp(name, "bright-", 7) == 0) {
        std::memcpy(normalised, "light-", 6);
        std::memcpy(normalised + 6, name + 7, length - 7);
        normalised[length - 1] = '\0';
    } else {
        std::memcpy(normalised, name, length);
        normalised[length] = '\0';
    }
    for (int i = 0; i < 16; ++i) {
        if (strcasecmp(normalised, UdpTrailColourName(i)) == 0) {
            *attribute = i;
            return true;
        }
    }
    for (const ColourAlias& alias : kAliases) {
        if (strcasecmp(normalised, alias.name) == 0) {
            *attribute = alias.attribute;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseColour(const char* text, int* attribute) {
    long number = 0;
    if (ParseNumber(text, &number)) {
        if (number >= 0 && number <= 31) {
            *attribute = static_cast<int>(number);
            return true;
        }
        if (number >= UdpTrailMarker(0) && number <= UdpTrailMarker(31)) {
            *attribute = static_cast<int>(number - UdpTrailMarker(0));
            return true;
        }
        return false;
    }

    size_t length = std::strlen(text);
    int background = 0;
    static const char kOnBlue[] = "on-blue";
    static const char kOnBlack[] = "on-black";
    const size_t onBlueLength = sizeof kOnBlue - 1;
    const size_t onBlackLength = sizeof kOnBlack - 1;
    if (strcasecmp(text, kOnBlue) == 0) {
        *attribute = UDPTRAIL_NORMAL + UDPTRAIL_ON_BLUE;
        return true;
    }
    if (length > onBlueLength + 1 && strcasecmp(text + length - onBlueLength, kOnBlue) == 0 &&
        text[length - onBlueLength - 1] == '-') {
        background = UDPTRAIL_ON_BLUE;
        length -= onBlueLength + 1;
    } else if (length > onBlackLength + 1 &&
               strcasecmp(text + length - onBlackLength, kOnBlack) == 0 &&
               text[length - onBlackLength - 1] == '-') {
        length -= onBlackLength + 1;
    }
    int foreground = 0;
    if (!ParseColourName(text, length, &foreground)) return false;
    *attribute = foreground + background;
    return true;
}

bool ParseTarget(const char* text, char (&host)[kMaxHostLength + 1], int* port) {
    const char* hostStart = text;
    const char* colon;
    if (*text == '[') {
        ++hostStart;
        const char* close = std::strchr(hostStart, ']');
        if (close == nullptr || close[1] != ':') return false;
        colon = close + 1;
    } else {
        colon = std::strchr(text, ':');
        if (colon == nullptr || std::strchr(colon + 1, ':') != nullptr) return false;
    }
    const char* hostEnd = *text == '[' ? colon - 1 : colon;
    size_t hostLength = static_cast<size_t>(hostEnd - hostStart);
    if (hostLength == 0 || hostLength > kMaxHostLength) return false;

    const char* digits = colon + 1;
    if (*digits == '\0' || std::strlen(digits) > 5) return false;
    int value = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
    }
    if (value < 1 || value > 65535) return false;

    std::memcpy(host, hostStart, hostLength);
    host[hostLength] = '\0';
    *port = value;
    return true;
}

size_t NextLine(const char* text, size_t length, size_t* used) {
    const size_t longest = UDPTRAIL_MAX_TEXT;
    size_t limit = length < longest ? length : longest;
    for (size_t i = 0; i < limit; ++i) {
        if (text[i] == '\n') {
            *used = i + 1;
            return i;
        }
        if (text[i] == '\0') {
            // The rest of this line is dropped, up to and including its line feed.
            const void* lineFeed = std::memchr(text + i, '\n', length - i);
            *used = lineFeed ? static_cast<size_t>(static_cast<const char*>(lineFeed) - text) + 1
                             : length;
            return i;
        }
    }
    // A line of exactly UDPTRAIL_MAX_TEXT bytes takes its line feed along rather than leaving it
    // to start an empty line.
    *used = (limit < length && text[limit] == '\n') ? limit + 1 : limit;
    return limit;
}
