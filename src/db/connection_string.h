#pragma once

#include <map>
#include <string>
#include <string_view>

#include "db/profile.h"

namespace trp {

inline constexpr std::string_view kDriverName = "PostgreSQL Unicode";

// "Driver={PostgreSQL Unicode};Server=…;Port=…;Uid=…;Pwd=…;Database=…". A value that would break
// the string (it holds ';', '{' or '}', or starts or ends with a blank) is braced, with '}'
// doubled; every other value is inserted as it stands.
std::string BuildConnectionString(const Profile& profile);

// The string, asking for a host that accepts writes where its Server field lists several hosts
// (libpq's list, "db1,db2"): the first host that answers may be a standby. A single host is
// taken as it stands, so a server that cannot be written says so in its own words at the write.
std::string AskingForWritableHost(const std::string& connection_string);

// libpq's connection parameters (host, port, user, password, dbname, and the kind of host
// wanted, TargetSessionAttrs) from an ODBC-style
// connection string, with the synonyms the PostgreSQL ODBC driver takes: the one place where
// the string is read for a connection. Throws DbError, as the driver manager would, when it
// names another driver.
std::map<std::string, std::string> LibpqParameters(std::string_view connection_string);

// Keyword/value pairs of an ODBC-style connection string. Keywords are folded to lower case;
// braced values are unwrapped ("}}" stands for '}'); pieces without '=' are ignored.
std::map<std::string, std::string> ParseConnectionString(std::string_view text);

}  // namespace trp
