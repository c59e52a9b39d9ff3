#pragma once

#include <memory>
#include <string>

#include "app/temporary_cluster.h"
#include "db/profile.h"

namespace trp::bench {

// Starts a throwaway server with a login role of the benchmark's own (CREATEDB, allowed to
// CHECKPOINT, its password drawn at random) and points PGHOST, PGPORT, PGUSER and PGPASSWORD at
// it, over TCP as with any server, unencrypted (IgnoreUsersEncryptionSettings). The server goes
// when the returned object does.
std::unique_ptr<TemporaryCluster> StartThrowawayServer(TemporaryCluster::Durability durability);

// The server the benchmarks run against, taken from PGHOST, PGPORT, PGUSER and PGPASSWORD, which
// psql reads as well. The user needs CREATEDB and must be allowed to run CHECKPOINT.
Profile ProfileFor(const std::string& database);
// The same server reached through another port of 127.0.0.1 (a delay proxy in front of it).
Profile ProfileThrough(const std::string& database, int port);

// Runs SQL on a database of the server; throws with the server's message.
void Sql(const std::string& database, const std::string& sql);
// The first value of the first row of a query, or "" when there is none.
std::string Scalar(const std::string& database, const std::string& sql);
bool TableExists(const std::string& database, const std::string& table);

// Empties a destination table (and any tables named in `also`) and writes everything out to
// disk, so that one run's writes are not flushed during the next run's timing.
void ResetTable(const std::string& database, const std::string& table,
                const std::string& also = {});
// Throws unless the table holds exactly `rows` rows.
void ExpectRows(const std::string& database, const std::string& table, long long rows);

// The start of a psql command line against the server: no start-up file, quiet, stop at the
// first error.
std::string Psql(const std::string& database);
std::string PsqlThrough(const std::string& database, int port);
// Runs a shell command and returns its wall time in seconds; throws when it fails.
double TimeCommand(const std::string& command);

}  // namespace trp::bench
