#include "base/progress_text.h"

#include <cmath>
#include <cstdio>

#include "base/number_text.h"

namespace trp {

std::string DurationText(long long seconds) {
    const long long hours = seconds / 3600;
    const long long minutes = seconds / 60 % 60;
    char text[32];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, seconds % 60);
    return text;
}

std::string ProgressText(long long settled, long long total,
                         std::chrono::steady_clock::duration elapsed) {
    // Rounded down, so that 100 % means every row.
    const double percent =
        total > 0
            ? std::floor(1000.0 * static_cast<double>(settled) / static_cast<double>(total)) / 10.0
            : 100.0;
    char share[32];
    std::snprintf(share, sizeof share, "%.1f", percent);
    std::string text =
        WithThousands(settled) + " of " + WithThousands(total) + " rows (" + share + " %)";
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (settled <= 0 || seconds <= 0) return text;
    const double pace = static_cast<double>(settled) / seconds;
    text += ", " + WithThousands(std::llround(pace)) + " rows/s, " +
            DurationText(
                static_cast<long long>(std::ceil(static_cast<double>(total - settled) / pace))) +
            " left";
    return text;
}

}  // namespace trp
