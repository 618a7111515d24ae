// The text of an error code, the same on every platform: the C library's own.
#include <cstring>

#include "platform/files.h"

const char* PlatErrorText(int errorCode) { return strerror(errorCode); }
