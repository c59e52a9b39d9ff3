#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <string>
#include <vector>

namespace trp {

// COPY FROM's options (`options`: empty or " (…)") with rows whose values a column's type cannot
// read skipped rather than failing the COPY, each named in a notice (PostgreSQL 17 on, text
// format only).
std::string SkippingUnreadableRows(const std::string& options);

// The lines (counted from 1) that such a COPY on `conn` skipped, as its notices name them, while
// this lives. Notices in another language than English name no line it can read: the caller
// then finds fewer lines than the COPY skipped.
class SkippedCopyRows {
public:
    explicit SkippedCopyRows(PGconn* conn);
    // Stops listening, unless Released.
    ~SkippedCopyRows();
    SkippedCopyRows(const SkippedCopyRows&) = delete;
    SkippedCopyRows& operator=(const SkippedCopyRows&) = delete;

    // In the order the notices came, which is the data's.
    const std::vector<std::size_t>& Lines() const { return lines_; }
    PGconn* Conn() const { return conn_; }
    // `conn` was let go of: nothing is to be undone on it.
    void Release() { conn_ = nullptr; }

private:
    static void Receive(void* self, const PGresult* notice);

    PGconn* conn_;
    PQnoticeReceiver previous_;
    std::vector<std::size_t> lines_;
};

}  // namespace trp
