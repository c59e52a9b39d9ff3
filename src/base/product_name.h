#pragma once

namespace trp {

// The product name: caption of both screens and section of the settings store.
inline constexpr const char* kProductName = "Tessaline Row Porter Suite";

}  // namespace trp
