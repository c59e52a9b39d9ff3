#pragma once

#include <cstdint>

namespace trp {

// Where a source row is stored: its table (a partition or a child table has its own) and its
// place there (ctid). Within the source's snapshot it names exactly one row, so a row read in
// COPY's binary format can be read again, as text, when the destination refuses it.
struct RowLocator {
    std::uint32_t table = 0;  // tableoid
    std::uint32_t block = 0;
    std::uint16_t item = 0;
};

}  // namespace trp
