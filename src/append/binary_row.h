#pragma once

#include <cstdint>

namespace trp {

// A 32-bit integer in network byte order, as COPY's binary format writes them.
std::uint32_t BigEndian32(const char* bytes);
// The same for a 16-bit one.
std::uint16_t BigEndian16(const char* bytes);

}  // namespace trp
