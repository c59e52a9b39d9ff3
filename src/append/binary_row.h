#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "append/column_types.h"
#include "append/copy_text_codec.h"

namespace trp {

class EventPacer;

// A 32-bit integer in network byte order, as COPY's binary format writes them.
std::uint32_t BigEndian32(const char* bytes);

// The fields of one tuple of COPY's binary format (a 16-bit field count, then each field as a
// 32-bit length, -1 for NULL, and its bytes); nullopt for NULL. Throws DbError when the tuple is
// cut short.
std::vector<std::optional<std::string_view>> BinaryTupleFields(std::string_view tuple);

// The text forms of a binary tuple's fields, as a session with the source's text output
// settings writes them: the server reads each field with its type's binary input and writes it
// with its text output, in a transaction of its own that changes nothing. Throws DbError.
RowValues TextForms(PGconn* conn, EventPacer& pacer, std::string_view tuple,
                    const ColumnTypes& types);

}  // namespace trp
