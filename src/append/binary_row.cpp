#include "append/binary_row.h"

#include <string>

#include "append/event_pacer.h"
#include "append/session_settings.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

std::int32_t ReadInt32(std::string_view& bytes) {
    if (bytes.size() < 4) throw DbError("a row of COPY's binary format is cut short");
    const auto value = static_cast<std::int32_t>(BigEndian32(bytes.data()));
    bytes.remove_prefix(4);
    return value;
}

void Send(PGconn* conn, const std::string& sql, int count = 0, const Oid* types = nullptr,
          const char* const* values = nullptr, const int* lengths = nullptr,
          const int* formats = nullptr) {
    if (!PQsendQueryParams(conn, sql.c_str(), count, types, values, lengths, formats, 0))
        ThrowConnectionFailure(conn);
}

}  // namespace

std::uint32_t BigEndian32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           b[3];
}

std::vector<std::optional<std::string_view>> BinaryTupleFields(std::string_view tuple) {
    if (tuple.size() < 2) throw DbError("a row of COPY's binary format is cut short");
    const auto* b = reinterpret_cast<const unsigned char*>(tuple.data());
    const int count = static_cast<std::int16_t>((b[0] << 8) | b[1]);
    tuple.remove_prefix(2);
    std::vector<std::optional<std::string_view>> fields;
    for (int i = 0; i < count; ++i) {
        const std::int32_t length = ReadInt32(tuple);
        if (length < 0) {
            fields.emplace_back();
            continue;
        }
        if (tuple.size() < static_cast<std::size_t>(length))
            throw DbError("a row of COPY's binary format is cut short");
        fields.emplace_back(tuple.substr(0, static_cast<std::size_t>(length)));
        tuple.remove_prefix(static_cast<std::size_t>(length));
    }
    return fields;
}

RowValues TextForms(PGconn* conn, EventPacer& pacer, std::string_view tuple,
                    const ColumnTypes& columns) {
    const auto fields = BinaryTupleFields(tuple);
    if (fields.size() != columns.size()) throw DbError("a row does not match its table's columns");
    std::vector<Oid> types;
    for (const ColumnType& column : columns) types.push_back(column.type);
    if (fields.empty()) return {};
    std::string select = "SELECT ";
    std::vector<const char*> values;
    std::vector<int> lengths;
    const std::vector<int> formats(fields.size(), 1);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        select += (i ? ", $" : "$") + std::to_string(i + 1);
        values.push_back(fields[i] ? fields[i]->data() : nullptr);
        lengths.push_back(fields[i] ? static_cast<int>(fields[i]->size()) : 0);
    }
    if (!PQenterPipelineMode(conn)) ThrowConnectionFailure(conn);
    Send(conn, "BEGIN");
    Send(conn, TextOutputSettingsForTransaction());
    Send(conn, select, static_cast<int>(fields.size()), types.data(), values.data(), lengths.data(),
         formats.data());
    Send(conn, "ROLLBACK");
    if (!PQpipelineSync(conn)) ThrowConnectionFailure(conn);

    ResultStream results(conn, pacer);
    PgResultPtr texts;
    for (int statement = 0; statement < 4; ++statement) {
        PgResultPtr result = results.Next();
        if (!result) ThrowConnectionFailure(conn);
        while (results.Next()) {
        }
        if (statement == 2) texts = std::move(result);
    }
    PgResultPtr sync = results.Next();
    if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) ThrowConnectionFailure(conn);
    PQexitPipelineMode(conn);
    if (results.Failure()) std::rethrow_exception(results.Failure());

    RowValues row;
    for (int i = 0; i < PQnfields(texts.get()); ++i) {
        if (PQgetisnull(texts.get(), 0, i)) {
            row.emplace_back();
        } else {
            row.emplace_back(std::string(PQgetvalue(texts.get(), 0, i),
                                         static_cast<std::size_t>(PQgetlength(texts.get(), 0, i))));
        }
    }
    return row;
}

}  // namespace trp
