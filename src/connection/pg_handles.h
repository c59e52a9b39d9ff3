#pragma once

#include <libpq-fe.h>

#include <memory>

namespace trp {

// Sole owners of libpq's handles: whatever path a function leaves by, the handle is released.
struct PgConnDeleter {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct PgResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};

struct PqMemoryDeleter {
    void operator()(char* memory) const { PQfreemem(memory); }
};

using PgConnPtr = std::unique_ptr<PGconn, PgConnDeleter>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultDeleter>;
// Memory that libpq allocated for the caller (a row of COPY data, an escaped text).
using PqBuffer = std::unique_ptr<char, PqMemoryDeleter>;

}  // namespace trp
