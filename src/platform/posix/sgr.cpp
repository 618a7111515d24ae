// ANSI colour sequences for console attributes.
#include "platform/posix/sgr.h"

#include <cstdio>

#include "platform/console.h"

namespace {

// Console attributes order the colour bits blue, green, red; ANSI orders them red, green, blue.
int AnsiColour(unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }

}  // namespace

size_t FormatSgr(uint16_t attribute, char* out) {
    if (attribute == kNormalAttribute) {
        out[0] = '\x1b', out[1] = '[', out[2] = '0', out[3] = 'm', out[4] = '\0';
        return 4;
    }
    unsigned foreground = attribute & 0x0F;
    unsigned background = (attribute >> 4) & 0x0F;
    int fg = ((foreground & 8) ? 90 : 30) + AnsiColour(foreground);
    int bg = ((background & 8) ? 100 : 40) + AnsiColour(background);
    int n = snprintf(out, kSgrSize, "\x1b[%d;%dm", fg, bg);
    return n > 0 ? static_cast<size_t>(n) : 0;
}
