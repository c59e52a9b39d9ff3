#pragma once

#include <string>

namespace trp {

// `number` with commas between groups of three digits, as the program's messages write counts:
// "1,234,567".
std::string WithThousands(long long number);

}  // namespace trp
