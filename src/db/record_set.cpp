#include "db/record_set.h"

#include "db/db_error.h"

namespace trp {

RecordSet::RecordSet(PgResultPtr result, bool exact_count)
    : result_(std::move(result)), exact_count_(exact_count) {}

void RecordSet::RequireOpen() const {
    if (!result_) throw DbError("Operation is not allowed when the record set is closed.");
}

void RecordSet::RequireCurrentRow() const {
    RequireOpen();
    if (Eof()) throw DbError("There is no current row: the record set is at its end.");
}

bool RecordSet::Eof() const {
    RequireOpen();
    return row_ >= PQntuples(result_.get());
}

int RecordSet::FieldCount() const {
    RequireOpen();
    return PQnfields(result_.get());
}

std::string RecordSet::FieldName(int index) const {
    RequireOpen();
    if (index < 0 || index >= PQnfields(result_.get()))
        throw DbError("Field index " + std::to_string(index) + " is out of range.");
    return PQfname(result_.get(), index);
}

std::optional<std::string> RecordSet::Value(int index) const {
    RequireCurrentRow();
    if (index < 0 || index >= PQnfields(result_.get()))
        throw DbError("Field index " + std::to_string(index) + " is out of range.");
    if (PQgetisnull(result_.get(), row_, index)) return std::nullopt;
    return std::string(PQgetvalue(result_.get(), row_, index),
                       static_cast<size_t>(PQgetlength(result_.get(), row_, index)));
}

int RecordSet::RecordCount() const {
    RequireOpen();
    return exact_count_ ? PQntuples(result_.get()) : -1;
}

void RecordSet::MoveNext() {
    RequireCurrentRow();
    ++row_;
}

}  // namespace trp
