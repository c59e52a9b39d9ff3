#include "append/session_settings.h"

#include "connection/connection.h"

namespace trp {

void PinSessionSettings(Connection& connection) {
    // ISO dates and the postgres interval style are read back the same under any input style;
    // UTC keeps timestamptz free of local-time ambiguities; three extra digits give the
    // shortest exact form of floating-point values.
    connection.Execute(
        "SET DateStyle = 'ISO, MDY'; SET IntervalStyle = 'postgres'; SET TimeZone = 'UTC'; "
        "SET extra_float_digits = 3; SET bytea_output = 'hex'; "
        "SET standard_conforming_strings = on; SET client_encoding = 'UTF8'");
    // money's text form follows lc_monetary; not every server has the C locale's name
    // available to every role, and without it both sides keep their own.
    try {
        connection.Execute("SET lc_monetary = 'C'");
    } catch (...) {
    }
}

}  // namespace trp
