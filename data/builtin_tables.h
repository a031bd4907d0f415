#pragma once
#include <string_view>

namespace velmora::data {

// The bytes (UTF-8) of a built-in table file such as "T-Syntax.txt";
// empty when no such file is built in.
std::string_view builtin_file(std::string_view name);

}  // namespace velmora::data
