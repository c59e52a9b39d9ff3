#include "base/error_report.h"

#include "base/operation_host.h"

namespace trp {

std::string LocationText(std::string_view screen, std::string_view procedure) {
    std::string text = "in TessalineRowPort2021/08/31.";
    text += screen;
    text += '.';
    text += procedure;
    text += ' ';
    return text;
}

std::string ComposeErrorReport(std::string_view description, std::string_view location, int line) {
    std::string text(description);
    text += "\r\n";
    text += location;
    text += "at line ";
    // Line numbers are 16-bit unsigned values.
    text += std::to_string(static_cast<unsigned short>(line));
    text += "\r\r";
    text += "Please email screenshot of this message to ";
    text += kSupportAddress;
    return text;
}

void ShowErrorReport(OperationHost& host, std::string_view description, std::string_view location,
                     int line) {
    host.ShowErrorBox(ComposeErrorReport(description, location, line));
}

}  // namespace trp
