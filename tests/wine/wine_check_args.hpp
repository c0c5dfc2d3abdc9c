#pragma once
// The command-line arguments left over after GoogleTest has taken its own.

#include <string>
#include <vector>

namespace wine_check {

/// Set once by main before the tests run.
std::vector<std::wstring>& args();

}  // namespace wine_check
