#include "bench_server.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "db/connection.h"
#include "db/connection_string.h"

namespace trp::bench {
namespace {

std::string Env(const char* name, const std::string& fallback = {}) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

Connection Open(const std::string& database) {
    Connection connection;
    connection.SetCommandTimeout(0);  // a large fill or CHECKPOINT may take minutes
    connection.Open(BuildConnectionString(ProfileFor(database)));
    connection.Execute("SET client_min_messages = warning");  // no notices of IF EXISTS
    return connection;
}

}  // namespace

std::unique_ptr<TemporaryCluster> StartThrowawayServer(TemporaryCluster::Durability durability) {
    // psql and the program alike reach it unencrypted, whatever the user's TLS variables say.
    IgnoreUsersEncryptionSettings();
    auto cluster = std::make_unique<TemporaryCluster>(durability, "tessaline-bench");
    const std::string password = RandomPassword();
    cluster->CreateLoginRole("bench", password, "CREATEDB");
    cluster->Execute("postgres", "GRANT pg_checkpoint TO bench");
    setenv("PGHOST", cluster->Host().c_str(), 1);
    setenv("PGPORT", std::to_string(cluster->Port()).c_str(), 1);
    setenv("PGUSER", "bench", 1);
    setenv("PGPASSWORD", password.c_str(), 1);
    return cluster;
}

Profile ProfileFor(const std::string& database) {
    return Profile{Env("PGHOST", "localhost"), Env("PGPORT", "5432"), Env("PGUSER"),
                   Env("PGPASSWORD"), database};
}

Profile ProfileThrough(const std::string& database, int port) {
    Profile profile = ProfileFor(database);
    profile.server = "127.0.0.1";
    profile.port = std::to_string(port);
    return profile;
}

void Sql(const std::string& database, const std::string& sql) {
    Open(database).Execute(sql);
}

std::string Scalar(const std::string& database, const std::string& sql) {
    RecordSet rows = Open(database).Execute(sql);
    return rows.Eof() ? "" : rows.Value(0).value_or("");
}

bool TableExists(const std::string& database, const std::string& table) {
    Connection connection = Open(database);
    RecordSet rows = connection.Execute(
        "SELECT to_regclass(" + QuoteLiteral(connection.QuoteIdentifier(table)) + ") IS NOT NULL");
    return rows.Value(0) == "t";
}

void ResetTable(const std::string& database, const std::string& table, const std::string& also) {
    Connection connection = Open(database);
    connection.Execute("TRUNCATE " + connection.QuoteIdentifier(table) +
                       (also.empty() ? "" : ", " + also));
    connection.Execute("CHECKPOINT");
}

void ExpectRows(const std::string& database, const std::string& table, long long rows) {
    Connection connection = Open(database);
    const std::string count =
        connection.Execute("SELECT count(*) FROM " + connection.QuoteIdentifier(table))
            .Value(0)
            .value_or("");
    if (count != std::to_string(rows)) {
        throw std::runtime_error(database + "." + table + " holds " + count + " rows, not " +
                                 std::to_string(rows));
    }
}

std::string Psql(const std::string& database) {
    return "psql -X -q -v ON_ERROR_STOP=1 -d " + database;
}

std::string PsqlThrough(const std::string& database, int port) {
    return Psql(database) + " -h 127.0.0.1 -p " + std::to_string(port);
}

double TimeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    // Through bash for pipefail: a failing first half of a pipe must fail the run.
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/bash", "bash", "-o", "pipefail", "-c", command.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + command);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace trp::bench
