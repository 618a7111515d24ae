// Messages to standard error that never hold the caller up for long.
#include "output/error_message.h"

#include <cstdio>

#include "platform/console.h"

namespace {

// How long a message on standard error may wait for a reader that lags.
constexpr int kErrorWaitMs = 10;

// A reader that let the last message wait in vain is not waited for again until it takes one: a
// message for every line (a missing folder) must not hold up each line.
bool errorsLag = false;

}  // namespace

void WriteErrorMessageV(const char* format, va_list arguments) {
    char text[512];
    int length = vsnprintf(text, sizeof text, format, arguments);
    if (length < 0) return;
    errorsLag = !PlatErrorWriteWithin(text, static_cast<size_t>(length) < sizeof text
                                                ? static_cast<size_t>(length) : sizeof text - 1,
                                      errorsLag ? 0 : kErrorWaitMs);
}

void WriteErrorMessage(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteErrorMessageV(format, arguments);
    va_end(arguments);
}
