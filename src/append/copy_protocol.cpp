#include "append/copy_protocol.h"

#include <poll.h>

#include <algorithm>

#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

constexpr std::size_t kStreamChunk = 256 * 1024;

}  // namespace

void PutCopyData(PGconn* conn, EventPacer& pacer, std::string_view data) {
    while (!data.empty()) {
        const int size = static_cast<int>(std::min<std::size_t>(data.size(), kStreamChunk));
        const int queued = PQputCopyData(conn, data.data(), size);
        if (queued < 0) ThrowConnectionFailure(conn);
        if (queued > 0) data.remove_prefix(static_cast<std::size_t>(size));
        FlushOutput(conn, pacer);
    }
}

void EndCopyData(PGconn* conn, EventPacer& pacer) {
    while (true) {
        const int ended = PQputCopyEnd(conn, nullptr);
        if (ended < 0) ThrowConnectionFailure(conn);
        if (ended == 1) return;
        pacer.WaitSocket(conn, POLLOUT | POLLIN);
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
}

std::optional<std::size_t> FailedCopyLine(const char* context, const std::string& relation) {
    if (!context || relation.empty()) return std::nullopt;
    // One line of the context is COPY's own: "COPY <relation>, line <n>" and maybe more after
    // a comma or a colon; the word for "line" is in the server's language.
    const std::string prefix = "COPY " + relation + ", ";
    std::string_view rest(context);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.starts_with(prefix)) continue;
        line.remove_prefix(prefix.size());
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) return std::nullopt;
        line.remove_prefix(blank + 1);
        std::size_t digits = 0;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
        if (digits == 0 || digits > 18 ||
            (digits < line.size() && line[digits] != ',' && line[digits] != ':'))
            return std::nullopt;
        return static_cast<std::size_t>(std::stoull(std::string(line.substr(0, digits))));
    }
    return std::nullopt;
}

std::optional<std::exception_ptr> InInsertWords(const PGresult* failure,
                                                const std::string& relation) {
    const char* state = PQresultErrorField(failure, PG_DIAG_SQLSTATE);
    const char* context = PQresultErrorField(failure, PG_DIAG_CONTEXT);
    if (!state || std::string_view(state).substr(0, 2) != "23" || !context) return std::nullopt;
    if (!FailedCopyLine(context, relation)) return std::nullopt;
    // The context's lines, innermost first; the COPY's own is the last.
    std::string_view lines(context);
    const std::size_t copy_line = lines.rfind("COPY " + relation + ", ");
    if (copy_line == std::string_view::npos) return std::nullopt;
    const std::string_view own_context =
        copy_line == 0 ? std::string_view() : lines.substr(0, copy_line - 1);
    // The context is the last part of the message libpq composes.
    std::string text = ErrorText(failure);
    const std::size_t at = text.rfind("\nCONTEXT:  ");
    if (at == std::string::npos) return std::nullopt;
    text.erase(at);
    if (!own_context.empty()) text += "\nCONTEXT:  " + std::string(own_context);
    return std::make_exception_ptr(DbError(text, state));
}

}  // namespace trp
