// Unique names in the temporary folder of Windows.
#include "support/win32/temp_name.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace testing_support {

std::string UniqueTempName(const char* stem) {
    static int counter = 0;
    char base[MAX_PATH];
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) abort();
    // Forward slashes, which Windows takes as well, so that paths read the same as on Linux in
    // the tests' expected messages and patterns.
    std::string name = std::string(base) + stem + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(GetTickCount64()) + "_" + std::to_string(++counter);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace testing_support
