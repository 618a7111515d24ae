// Unique names in the temporary folder of Windows.
#pragma once

#include <string>

namespace testing_support {

/// A path in the system's temporary folder that starts with `stem` and no other call has returned,
/// with forward slashes.
std::string UniqueTempName(const char* stem);

}  // namespace testing_support
