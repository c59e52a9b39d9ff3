#include "append/commit_check.h"

#include <cstdlib>
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

// A proof either way, or nothing proven.
using Proof = std::optional<CommitStatus>;

// One session's questions about the transaction.
class Inquiry {
public:
    Inquiry(Connection& connection, const InDoubtCommit& commit, EventPacer& pacer,
            const CommitCheckLimits& limits)
        : conn_(connection.Handle()),
          server_(ServerVersion::Of(conn_)),
          commit_(commit),
          pacer_(pacer),
          limits_(limits) {}

    CommitStatus Run() {
        const ServerLife life =
            ServerLife::Read(Ask(std::string("SELECT ") + ServerLife::kColumns).get(), 0);
        const std::optional<std::string> status = SettledStatus();
        if (!status || *status == "in progress") return CommitStatus::Unknown;
        if (*status != "committed") return CommitStatus::Aborted;
        Proof proof;
        if (commit_.life.Known() && life == commit_.life) {
            proof = CommitStatus::Committed;
        } else {
            proof = ByCheckpoint();
            if (!proof) proof = ByRows();
        }
        if (proof != CommitStatus::Committed) return proof.value_or(CommitStatus::Unknown);
        return Durable() ? CommitStatus::Committed : CommitStatus::Unknown;
    }

private:
    PgResultPtr Ask(const std::string& sql, milliseconds limit = milliseconds(0)) {
        // Behind a pooler that has lost its server, a query may wait for one far longer.
        const auto allowed = limit.count() > 0 ? limit : limits_.in_progress + limits_.reconnect;
        return ExecuteAwaited(conn_, sql, pacer_, Clock::now() + allowed);
    }
    static std::string Text(const PgResultPtr& result, int column) {
        return PQgetvalue(result.get(), 0, column);
    }

    // The status once it is no longer "in progress" (or when the time for that is up); "future"
    // for an id beyond what the server has handed out; nothing when the server no longer
    // remembers the transaction.
    std::optional<std::string> SettledStatus() {
        const auto deadline = Clock::now() + limits_.in_progress;
        while (true) {
            std::optional<std::string> status;
            try {
                const PgResultPtr result = Ask("SELECT " + server_.TransactionStatus(commit_.xid));
                if (PQgetisnull(result.get(), 0, 0)) return std::nullopt;
                status = Text(result, 0);
            } catch (const BrokenConnection&) {
                throw;
            } catch (const DbError& error) {
                // Its id lay beyond the log the server still had: it never committed there.
                if (error.sqlstate() == "22023") return "future";
                throw;
            }
            if (status != "in progress" || Clock::now() >= deadline) return status;
            pacer_.Pause(kStatusPause);
        }
    }

    // The latest checkpoint, where it is the one that ended a restart or a crash (only then does
    // it record no running transaction; with the minimal log level no checkpoint does): the
    // server handed out every id below its next id before it. A transaction that began after
    // it lives in the server's present life. One that began before it and whose id is below its
    // next id is the one the server remembers; one whose id is not was lost with the log.
    Proof ByCheckpoint() {
        if (commit_.opened_at.empty()) return std::nullopt;
        PgResultPtr result;
        try {
            const std::string opened = "'" + commit_.opened_at + "'::timestamptz";
            // A checkpoint's time is a whole second; the server's start is exact, and a
            // transaction that began before it belongs to a life that ended with a checkpoint
            // of this kind, or whose crash the recovery's checkpoint ended.
            result =
                Ask("SELECT c.next_xid, c.oldest_active_xid::text, current_setting('wal_level'), "
                    "c.checkpoint_time > " +
                    opened + " OR " + opened +
                    " < pg_postmaster_start_time(), c.checkpoint_time + interval '1 second' <= " +
                    opened + " FROM pg_control_checkpoint() c");
        } catch (const BrokenConnection&) {
            throw;
        } catch (const DbError&) {
            return std::nullopt;  // not this login's to read, say
        }
        if (Text(result, 1) != "0" || Text(result, 2) == "minimal") return std::nullopt;
        const bool after = Text(result, 3) == "t";
        const bool before = Text(result, 4) == "t";
        if (before) return CommitStatus::Committed;  // nothing restarted since it began
        if (!after) return std::nullopt;             // within the same second
        const std::string next = Text(result, 0);
        const std::size_t colon = next.find(':');
        if (colon == std::string::npos) return std::nullopt;
        const unsigned long long next_id =
            (std::stoull(next.substr(0, colon)) << 32) + std::stoull(next.substr(colon + 1));
        return std::stoull(commit_.xid) < next_id ? CommitStatus::Committed : CommitStatus::Aborted;
    }

    // The rows that carry the transaction's id in the table: exactly as many as it stored, or
    // none at all where they could not have gone elsewhere.
    Proof ByRows() {
        if (!commit_.rows || *commit_.rows <= 0 || commit_.table.empty()) return std::nullopt;
        const std::string short_id = std::to_string(std::stoull(commit_.xid) & 0xffffffffULL);
        PgResultPtr result;
        try {
            result = Ask(
                "SELECT count(*) FROM " + commit_.table + " WHERE xmin = '" + short_id + "'::xid",
                limits_.rows_lookup);
        } catch (const BrokenConnection&) {
            throw;
        } catch (const DbError&) {
            return std::nullopt;
        }
        const long long found = std::atoll(PQgetvalue(result.get(), 0, 0));
        if (found == *commit_.rows) return CommitStatus::Committed;
        if (found == 0 && commit_.rows_stay_in_table) return CommitStatus::Aborted;
        return std::nullopt;
    }

    // Whether the server's log is on disk up to where it stands now, and so up to the commit: a
    // commit made without waiting for the disk is lost with a crash before it gets there.
    bool Durable() {
        try {
            const std::string written = Text(Ask("SELECT pg_current_wal_insert_lsn()::text"), 0);
            const auto deadline = Clock::now() + limits_.in_progress;
            while (true) {
                const PgResultPtr flushed =
                    Ask("SELECT pg_current_wal_flush_lsn() >= '" + written + "'::pg_lsn");
                if (Text(flushed, 0) == "t") return true;
                if (Clock::now() >= deadline) return false;
                pacer_.Pause(kStatusPause);
            }
        } catch (const BrokenConnection&) {
            throw;
        } catch (const DbError&) {
            return false;
        }
    }

    PGconn* conn_;
    ServerVersion server_;
    const InDoubtCommit& commit_;
    EventPacer& pacer_;
    const CommitCheckLimits& limits_;
};

}  // namespace

CommitStatus CheckCommit(const std::string& connection_string, const InDoubtCommit& commit,
                         EventPacer& pacer, const CommitCheckLimits& limits) {
    if (commit.xid.empty()) return CommitStatus::Unknown;
    try {
        std::optional<Connection> connection =
            Reconnect(connection_string, pacer, limits.reconnect);
        if (!connection) return CommitStatus::Unknown;
        return Inquiry(*connection, commit, pacer, limits).Run();
    } catch (const DbError&) {
        return CommitStatus::Unknown;
    } catch (const WaitAbandoned&) {
        return CommitStatus::Unknown;
    }
}

}  // namespace trp
