#include "db/connection_string.h"

#include <algorithm>
#include <cctype>

#include "db/db_error.h"

namespace trp {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool NeedsBraces(std::string_view value) {
    if (value.find_first_of(";{}") != std::string_view::npos) return true;
    return !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
}

std::string Piece(std::string_view value) {
    if (!NeedsBraces(value)) return std::string(value);
    std::string braced = "{";
    for (char c : value) {
        braced += c;
        if (c == '}') braced += '}';
    }
    braced += '}';
    return braced;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string BuildConnectionString(const Profile& profile) {
    return "Driver={PostgreSQL Unicode};Server=" + Piece(profile.server) +
           ";Port=" + Piece(profile.port) + ";Uid=" + Piece(profile.user) +
           ";Pwd=" + Piece(profile.password) + ";Database=" + Piece(profile.database);
}

std::string AskingForWritableHost(const std::string& connection_string) {
    const auto pairs = ParseConnectionString(connection_string);
    for (const char* key : {"server", "servername"}) {
        const auto server = pairs.find(key);
        if (server != pairs.end() && server->second.find(',') != std::string::npos)
            return connection_string + ";TargetSessionAttrs=read-write";
    }
    return connection_string;
}

std::map<std::string, std::string> LibpqParameters(std::string_view connection_string) {
    const auto pairs = ParseConnectionString(connection_string);
    const auto driver = pairs.find("driver");
    if (driver == pairs.end() || driver->second != kDriverName) {
        const std::string name = driver == pairs.end() ? std::string() : driver->second;
        throw DbError("Data source name not found and no default driver specified: the driver \"" +
                      name + "\" is not installed; the installed driver is \"" +
                      std::string(kDriverName) + "\".");
    }
    static const std::map<std::string, std::string> kSynonyms = {
        {"server", "host"},
        {"servername", "host"},
        {"port", "port"},
        {"uid", "user"},
        {"username", "user"},
        {"pwd", "password"},
        {"password", "password"},
        {"database", "dbname"},
        {"targetsessionattrs", "target_session_attrs"}};
    std::map<std::string, std::string> params;
    for (const auto& [key, value] : pairs) {
        const auto libpq_key = kSynonyms.find(key);
        if (libpq_key != kSynonyms.end()) params[libpq_key->second] = value;
    }
    return params;
}

std::map<std::string, std::string> ParseConnectionString(std::string_view text) {
    std::map<std::string, std::string> pairs;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end_of_piece = text.find_first_of(";=", pos);
        if (end_of_piece == std::string_view::npos || text[end_of_piece] == ';') {
            // A piece without '=' carries no value.
            pos = end_of_piece == std::string_view::npos ? text.size() : end_of_piece + 1;
            continue;
        }
        const std::string key = Lower(TrimBlanks(text.substr(pos, end_of_piece - pos)));
        pos = end_of_piece + 1;

        std::string value;
        if (pos < text.size() && text[pos] == '{') {
            ++pos;
            while (pos < text.size()) {
                if (text[pos] == '}') {
                    if (pos + 1 < text.size() && text[pos + 1] == '}') {
                        value += '}';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                value += text[pos++];
            }
            // Anything between the closing brace and the next ';' is not part of the value.
            const size_t next = text.find(';', pos);
            pos = next == std::string_view::npos ? text.size() : next + 1;
        } else {
            const size_t next = text.find(';', pos);
            const size_t stop = next == std::string_view::npos ? text.size() : next;
            value = std::string(text.substr(pos, stop - pos));
            pos = next == std::string_view::npos ? text.size() : next + 1;
        }
        if (!key.empty()) pairs[key] = std::move(value);
    }
    return pairs;
}

}  // namespace trp
