#pragma once

namespace trp {

// The product name: caption of both screens and section of the settings store.
inline constexpr const char* kProductName = "Tessaline Row Porter Suite";

// The desktop entry's name, as the package installs it (resources/<name>.desktop): Wayland
// compositors match windows to their entry and icon by it, and launchers their progress.
inline constexpr const char* kDesktopFileName = "example.kestrelby.TessalineRowPorter";

}  // namespace trp
