#pragma once

#include <algorithm>
#include <vector>

namespace trp::bench {

// The middle value, or the mean of the two middle ones; 0 for none.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace trp::bench
