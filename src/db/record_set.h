#pragma once

#include <optional>
#include <string>

#include "db/pg_handles.h"

namespace trp {

// The rows of one executed statement, read one current row at a time.
class RecordSet {
public:
    RecordSet() = default;  // a closed record set, a mere placeholder
    RecordSet(PgResultPtr result, bool exact_count);
    RecordSet(RecordSet&&) noexcept = default;
    RecordSet& operator=(RecordSet&&) noexcept = default;

    bool IsOpen() const { return result_ != nullptr; }
    bool Eof() const;  // true when no current row is left
    int FieldCount() const;
    std::string FieldName(int index) const;
    // The current row's value in column `index` (zero-based); nullopt for SQL NULL.
    std::optional<std::string> Value(int index) const;
    // The exact number of rows, or -1 for a server-side cursor (the count is then not known).
    int RecordCount() const;
    void MoveNext();
    void Close() { result_.reset(); }

private:
    void RequireOpen() const;
    void RequireCurrentRow() const;

    PgResultPtr result_;
    int row_ = 0;
    bool exact_count_ = true;
};

}  // namespace trp
