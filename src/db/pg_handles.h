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

struct PgMemoryDeleter {
    void operator()(void* memory) const { PQfreemem(memory); }
};

using PgConnPtr = std::unique_ptr<PGconn, PgConnDeleter>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultDeleter>;
// What libpq allocates for its caller (escaped texts, unescaped bytes, encrypted passwords).
template <typename T>
using PgMemoryPtr = std::unique_ptr<T, PgMemoryDeleter>;
// A row of COPY data as libpq hands it over.
using PqBuffer = PgMemoryPtr<char>;

}  // namespace trp
