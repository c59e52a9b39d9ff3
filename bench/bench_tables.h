#pragma once

#include <string>

namespace trp::bench {

// The tables the benchmarks read and write. Source tables are filled once, vacuumed (so that no
// timed run sets hint bits) and written out to disk; their names carry their size, so a later
// case of the same size reads the same table.

// Six columns: bigint, text, numeric(12,2), timestamptz, boolean, varchar(80) with every tenth
// value NULL; about 120 bytes a row in the text format.
void CreateSixColumnTable(const std::string& database, const std::string& table,
                          const std::string& extra_sql = {});
void FillSixColumnTable(const std::string& database, const std::string& table, long long rows);
// "six_<rows>", created and filled unless it exists.
std::string SixColumnSource(const std::string& database, long long rows);
// One INSERT statement per row of a six-column source table, into `destination`, one a line.
std::string SixColumnInsertStatements(const std::string& source, const std::string& destination);

// Thirty columns, about 4 KB a row: numeric, timestamptz, a jsonb document of about 500 bytes,
// a text of about 1 KB, a bytea of 2 KB, and ordinary integers and short texts.
void CreateWideTable(const std::string& database, const std::string& table);
// "wide_<rows>", created and filled unless it exists.
std::string WideSource(const std::string& database, long long rows);

// One row (integer, text) whose text is `bytes` long.
// "(id bigint, qty integer, note text)".
void CreateNumbersTable(const std::string& database, const std::string& table);
// The same columns with qty as text: the numbers, but every `bad_every`-th "bad" (0: none).
std::string NumbersAsTextSource(const std::string& database, long long rows, long long bad_every);

void CreateOneValueTable(const std::string& database, const std::string& table,
                         const std::string& extra_sql = {});
// "value_<bytes>", created and filled unless it exists.
std::string OneValueSource(const std::string& database, long long bytes);

}  // namespace trp::bench
