#pragma once

// PgBouncer, the connection pooler most hosted PostgreSQL sits behind, in front of a throwaway
// test server, for tests of what the program does through a pooler.
//
//     PgBouncer bouncer(Cluster(), PoolMode::Transaction);
//     const Profile profile = bouncer.ProfileFor("dbname");   // the test role, via the pooler
//     ...
//     bouncer.RestartServer();              // the server behind it goes down and comes back
//     bouncer.TerminateServerSessions("dbname");  // its backends end, as after a crash of one
//
// Debian 12's `pgbouncer` program (package "pgbouncer") runs as a child process on a free port of
// 127.0.0.1, as the "postgres" account when the tests run as root (PgBouncer refuses root), like
// the server. Its settings are PgBouncer's own defaults plus only what it needs to run:
//  - [databases]: every database name is passed on to the server (`* = host=... port=...`);
//  - listen_addr 127.0.0.1, listen_port, and its Unix socket in its own folder (not /tmp);
//  - pool_mode: session (a client keeps one server session until it leaves) or transaction (each
//    transaction may run on another server session, shared with other clients);
//  - auth_type scram-sha-256 with an auth_file holding the logins' passwords, with which it also
//    logs in to the server.
// ignore_startup_parameters stays empty, so a client that sends a startup parameter PgBouncer
// does not know (such as `options`) is refused with "unsupported startup parameter".
//
// Its files (pgbouncer.ini, the auth file, its log pgbouncer.log) live in a temporary folder of
// their own that only the pooler's account can enter. The pooler is stopped when the object goes,
// and dies with the test program should that end first.
//
// StopServer and RestartServer stop the server behind it at once, as a crash would: in front of a
// TemporaryCluster made Durable, every commit the server acknowledged survives that; a Fast one
// may lose the last ones.

#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "app/temporary_cluster.h"
#include "db/profile.h"

namespace trp::test {

enum class PoolMode { Session, Transaction };

class PgBouncer {
public:
    struct Login {
        std::string user;
        std::string password;
    };

    // Starts the pooler in front of `server` (which must outlive it), admitting `logins` (the
    // test role by default). Throws std::runtime_error with PgBouncer's own log when it does not
    // come up, or naming the package when it is not installed.
    PgBouncer(TemporaryCluster& server, PoolMode mode, std::vector<Login> logins = {});
    ~PgBouncer();
    PgBouncer(const PgBouncer&) = delete;
    PgBouncer& operator=(const PgBouncer&) = delete;

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    PoolMode Mode() const { return mode_; }
    // A profile of the database through the pooler: the test role's, or another login's.
    Profile ProfileFor(const std::string& database) const;
    Profile ProfileFor(const std::string& database, const Login& login) const;

    // The server behind the pooler.
    TemporaryCluster& Server() { return server_; }
    // Stops the server at once, as a crash would; the pooler keeps running and answering.
    void StopServer();
    // Starts it again on the same port; the pooler opens new server sessions as it needs them.
    void StartServer();
    void RestartServer();
    // The pooler itself ends (every client's connection with it) and starts again on its port.
    void Restart();
    // Ends every server session on `database` (pg_terminate_backend), the pooler's own among
    // them; returns how many there were.
    int TerminateServerSessions(const std::string& database);

    // What PgBouncer has logged so far, for the messages of failing tests.
    std::string Log() const;

private:
    // Starts the pooler on `port`, or a fresh free one; false when it was taken meanwhile.
    bool Start(int port = 0);
    std::string PathOf(const std::string& file) const;

    TemporaryCluster& server_;
    PoolMode mode_;
    std::vector<Login> logins_;
    QTemporaryDir folder_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    QProcess process_;
};

// PgBouncer's program, or "" when the package is not installed.
std::string PgBouncerProgram();

}  // namespace trp::test
