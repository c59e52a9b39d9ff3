#pragma once

#include <libpq-fe.h>

#include <optional>
#include <string>

namespace trp {

// What the server at the other end of a connection understands, where versions differ: the one
// place that knows which version brought which function, column or setting. Every statement
// that depends on the version takes its words from here.
class ServerVersion {
public:
    // The oldest version the program appends with (10.0).
    static constexpr int kOldestAppendable = 100000;

    // `number` as libpq gives it: 90624 for 9.6.24, 150004 for 15.4; 0 when unknown.
    explicit ServerVersion(int number = 0) : number_(number) {}
    // The version of the connection's server (PQserverVersion).
    static ServerVersion Of(const PGconn* conn) { return ServerVersion(PQserverVersion(conn)); }

    int Number() const { return number_; }
    // The version as people name it: "9.6" before 10, "15" from 10 on.
    std::string Name() const;
    // The report for a server too old to append with ("PostgreSQL 9.6 is older than 10, …"),
    // or nothing.
    std::optional<std::string> TooOldToAppend() const;

    // An expression giving the current transaction's id as a number that never wraps around
    // (the id with its epoch), assigning one if the transaction has none yet; NULL in a
    // transaction that cannot write (a standby's, or one read-only by default), where asking
    // would fail with words about a function the user never called: the write that follows
    // fails with the server's own words instead.
    std::string CurrentTransactionId() const;
    // The same for the id the current transaction was given by what it wrote, NULL when it has
    // none (it wrote nothing): asking costs the server no id of its own.
    std::string AssignedTransactionId() const {
        return number_ >= 130000 ? "pg_current_xact_id_if_assigned()"
                                 : "txid_current_if_assigned()";
    }
    // An expression giving the status of the transaction with that id ("committed", "aborted",
    // "in progress", or NULL when too old to be known); `id` is a decimal number.
    std::string TransactionStatus(const std::string& id) const;

    // Whether the catalogue has generated columns (pg_attribute.attgenerated).
    bool HasGeneratedColumns() const { return number_ >= 120000; }
    // Whether a session can have its server check the client's connection while a statement
    // runs (client_connection_check_interval).
    bool ChecksClientConnection() const { return number_ >= 140000; }
    // Whether a session can bound how long its server waits for unacknowledged data it sent
    // (the tcp_user_timeout setting).
    bool BoundsUnacknowledgedData() const { return number_ >= 120000; }
    // Whether a scan reads only a range of a table's blocks (TID range scans), so chunks of a
    // table cost their own size rather than the whole table's.
    bool ScansBlockRanges() const { return number_ >= 140000; }
    // Whether COPY FROM in the text format can skip rows whose values a column's type cannot
    // read, and name each one (ON_ERROR ignore, LOG_VERBOSITY verbose).
    bool CopySkipsUnreadableRows() const { return number_ >= 170000; }

private:
    int number_;
};

// One life of a server: from its start, or from its last recovery from a crash, which restarts
// every server process without restarting the postmaster. Within one life a transaction id is
// never handed out twice; after a crash, ids that had not reached the disk are handed out again.
// A crash discards the statistics, whose reset time therefore changes with it (and when someone
// resets them: a change is never missed, at worst one is seen that was none).
struct ServerLife {
    std::string started;      // pg_postmaster_start_time()
    std::string stats_reset;  // when the shared statistics began

    // The select list that reads it, in this order.
    static constexpr const char* kColumns =
        "pg_postmaster_start_time()::text, "
        "coalesce((SELECT stats_reset FROM pg_stat_bgwriter)::text, '')";
    // From two columns of a result, starting at `column`.
    static ServerLife Read(const PGresult* result, int column) {
        return {PQgetvalue(result, 0, column), PQgetvalue(result, 0, column + 1)};
    }
    bool Known() const { return !started.empty(); }
    bool operator==(const ServerLife&) const = default;
};

}  // namespace trp
