#pragma once

#include <string>
#include <string_view>

namespace trp {

class OperationHost;

inline constexpr std::string_view kSupportAddress = "support@kestrelby.example";
inline constexpr std::string_view kErrorReportTitle = "Application Error";

// "in TessalineRowPort2021/08/31.<screen or module>.<procedure> " (ending in one blank).
std::string LocationText(std::string_view screen, std::string_view procedure);

// description CR LF location "at line " N CR CR "Please email screenshot of this message to "
// address
std::string ComposeErrorReport(std::string_view description, std::string_view location, int line);

// Composes the report and shows it in the host's error box; returns when the box is closed.
void ShowErrorReport(OperationHost& host, std::string_view description, std::string_view location,
                     int line);

}  // namespace trp
