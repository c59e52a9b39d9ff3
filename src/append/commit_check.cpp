#include "append/commit_check.h"

#include <optional>

#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReconnectPause{500};
constexpr milliseconds kStatusPause{200};

std::optional<Connection> Reconnect(const std::string& connection_string, EventPacer& pacer,
                                    milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        Connection connection;
        connection.SetConnectionTimeout(static_cast<int>(left.count()));
        connection.SetCommandTimeout(30);
        try {
            connection.Open(connection_string, &pacer);
            return connection;
        } catch (const DbError&) {
            if (Clock::now() + kReconnectPause >= deadline) return std::nullopt;
            pacer.Pause(kReconnectPause);
        }
    }
}

}  // namespace

CommitStatus CheckCommit(const std::string& connection_string, const std::string& xid,
                         EventPacer& pacer, const CommitCheckLimits& limits) {
    std::optional<Connection> connection = Reconnect(connection_string, pacer, limits.reconnect);
    if (!connection) return CommitStatus::Unknown;
    const std::string query = "SELECT pg_xact_status(" + QuoteLiteral(xid) + "::xid8)";
    const auto deadline = Clock::now() + limits.in_progress;
    while (true) {
        std::optional<std::string> status;
        try {
            // Behind a pooler that has lost its server, a query may wait for one far longer.
            const PgResultPtr result =
                ExecuteAwaited(connection->Handle(), query, pacer, deadline + limits.reconnect);
            if (PQntuples(result.get()) == 1 && !PQgetisnull(result.get(), 0, 0))
                status = PQgetvalue(result.get(), 0, 0);
        } catch (const BrokenConnection&) {
            return CommitStatus::Unknown;
        } catch (const DbError& error) {
            // An id beyond what the server has handed out: the transaction never committed
            // (its id was lost with the server's unwritten log).
            if (error.sqlstate() == "22023") return CommitStatus::Aborted;
            return CommitStatus::Unknown;
        }
        if (status == "committed") return CommitStatus::Committed;
        if (status == "aborted") return CommitStatus::Aborted;
        // NULL: the transaction is too old for the server to remember.
        if (status != "in progress" || Clock::now() >= deadline) return CommitStatus::Unknown;
        pacer.Pause(kStatusPause);
    }
}

}  // namespace trp
