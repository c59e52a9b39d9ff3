#include "append/copy_text_codec.h"

namespace trp {
namespace {

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes the backslash escapes of one field.
std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\' || i + 1 == field.size()) {
            out += c;
            continue;
        }
        const char e = field[++i];
        switch (e) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'v':
                out += '\v';
                break;
            case 'x': {
                int value = 0;
                int digits = 0;
                while (digits < 2 && i + 1 < field.size() && HexValue(field[i + 1]) >= 0) {
                    value = value * 16 + HexValue(field[++i]);
                    ++digits;
                }
                if (digits == 0) {
                    out += 'x';
                } else {
                    out += static_cast<char>(value);
                }
                break;
            }
            default:
                if (IsOctal(e)) {
                    int value = e - '0';
                    for (int digits = 1;
                         digits < 3 && i + 1 < field.size() && IsOctal(field[i + 1]); ++digits)
                        value = value * 8 + (field[++i] - '0');
                    out += static_cast<char>(value);
                } else {
                    out += e;  // "\\" and any other escaped character stand for themselves
                }
        }
    }
    return out;
}

}  // namespace

RowValues DecodeCopyLine(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    RowValues values;
    while (true) {
        // A tab inside a value is always escaped, so every raw tab ends a field.
        const size_t tab = line.find('\t');
        const std::string_view field = line.substr(0, tab);
        if (field == "\\N") {
            values.emplace_back(std::nullopt);
        } else {
            values.emplace_back(Unescape(field));
        }
        if (tab == std::string_view::npos) break;
        line.remove_prefix(tab + 1);
    }
    return values;
}

}  // namespace trp
