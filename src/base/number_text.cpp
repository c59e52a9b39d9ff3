#include "base/number_text.h"

namespace trp {

std::string WithThousands(long long number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    for (auto at = static_cast<long long>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return number < 0 ? "-" + digits : digits;
}

}  // namespace trp
