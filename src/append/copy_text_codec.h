#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trp {

// One row's values; nullopt is SQL NULL.
using RowValues = std::vector<std::optional<std::string>>;

// The values of one row in COPY's text format (tab-separated, "\N" for NULL, backslash escapes),
// with or without its line end. Each value comes back exactly as the server's output function
// wrote it, whatever characters it holds.
RowValues DecodeCopyLine(std::string_view line);

}  // namespace trp
