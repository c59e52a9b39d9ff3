#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/profile.h"

class QTemporaryDir;

namespace trp {

// Where the server takes TCP logins: 127.0.0.1 of this machine, unless a test runs it in a
// network namespace of its own (to take its link away): `launcher` then enters that
// namespace to start the server (e.g. "ip netns exec NAME"), `address` is the server's
// address there and `clients` the addresses its login roles may come from.
struct ServerNetwork {
    std::string address = "127.0.0.1";
    std::string clients = "127.0.0.1/32";
    std::vector<std::string> launcher;
};

// A throwaway PostgreSQL server in a temporary folder of its own, stopped and removed again by
// the destructor. The demo mode, the tests and the benchmark run against one.
//
// Nobody but the person who started it gets in. The folder (data, log and the server's Unix
// socket) has mode 0700; the superuser logs in only through that socket, which only the folder's
// owner and root can reach. Over TCP, on 127.0.0.1 only, the server admits only the roles made
// by CreateLoginRole, with their passwords. As root the server runs as the "postgres" account,
// since PostgreSQL refuses to run as root, and the folder belongs to that account.
class TemporaryCluster {
public:
    // Fast: fsync, synchronous_commit and full_page_writes off, as the tests want. Durable:
    // PostgreSQL's own defaults, every commit waiting for the disk.
    enum class Durability { Fast, Durable };

    // Creates and starts the server in a new folder "<folder_prefix>-XXXXXX" in the temporary
    // folder. `version` is PostgreSQL's major version (10 to 18), 0 for the one installed
    // (PostgresBinDirectory()). Throws std::runtime_error naming the package to install, or the
    // step that failed with the tool's own output; nothing is left behind then.
    explicit TemporaryCluster(Durability durability = Durability::Fast,
                              const std::string& folder_prefix = "tessaline-pg",
                              ServerNetwork network = {}, int version = 0);
    ~TemporaryCluster();
    TemporaryCluster(const TemporaryCluster&) = delete;
    TemporaryCluster& operator=(const TemporaryCluster&) = delete;

    // A hot standby of this running server: a server of its own, in a folder of its own, on its
    // own port of the same address, copied by pg_basebackup and streaming this server's changes.
    // It admits the same logins (its roles are this server's) for reading only, until Promote().
    // Needs pg_basebackup of this server's version or later (Debian's postgresql-client-15).
    std::unique_ptr<TemporaryCluster> MakeStandby() const;
    // Ends a standby's recovery, so that it takes writes; returns once it does.
    void Promote();
    // Whether the server is a standby still in recovery.
    bool InRecovery() const;

    // The server's major version (10 to 18).
    int Version() const { return version_; }

    // Where the login roles reach the server over TCP.
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    // The server's folder. Callers may keep private files of their own in it: they go with it.
    const std::string& Directory() const { return directory_; }
    // The data folder inside it, with postgresql.conf and pg_hba.conf (owned by the server's
    // account, like the folder). Changes made there take effect at the next StartServer.
    std::string DataDirectory() const { return directory_ + "/data"; }

    static constexpr const char* kSuperuser = "trp_admin";
    // The group role whose members may log in over TCP.
    static constexpr const char* kTcpLoginGroup = "trp_tcp_logins";

    // The superuser's profile for one database: its server is the socket folder, with no
    // password.
    Profile AdminProfile(const std::string& database = "postgres") const;
    // Runs SQL as the superuser on one database; throws DbError with the server's message.
    void Execute(const std::string& database, const std::string& sql) const;
    // Creates a role that logs in over TCP with `password`. `options` are further options of
    // CREATE ROLE, such as "CREATEDB".
    void CreateLoginRole(const std::string& name, const std::string& password,
                         const std::string& options = "") const;
    // Creates the database afresh (one of that name is dropped first), owned by `owner`.
    void CreateDatabase(const std::string& name, const std::string& owner) const;

    // Stops the server at once, as a crash would (or, `fast`, as an administrator's shutdown,
    // which ends every session first), and keeps its data (for fault tests).
    void StopServer(bool fast = false);
    // Starts the stopped server again, on the same port with the same settings.
    void StartServer();

private:
    struct StandbyOf {
        const TemporaryCluster& primary;
    };
    explicit TemporaryCluster(StandbyOf standby);
    // Makes the server's folder (mode 0700), handed to the server's account when root.
    void MakeFolder(const std::string& folder_prefix);
    // Writes the settings with a free port and starts the server, on another port when that one
    // was taken meanwhile.
    void StartOnAFreePort();
    // A connection of the superuser to one database, without a command time-out.
    Connection AdminConnection(const std::string& database) const;
    std::string LogFile() const { return directory_ + "/server.log"; }
    // Stops the server if it runs and removes the folder; never throws.
    void Remove() noexcept;

    ServerNetwork network_;
    Durability durability_;
    int version_ = 0;
    std::string host_;
    int port_ = 0;
    std::unique_ptr<QTemporaryDir> folder_;
    std::string directory_;
    std::string bin_;
};

// From here on this process's connections, and those of the programs it starts, reach a
// throwaway server the same way whatever encryption the user's environment asks for: the
// throwaway servers speak neither TLS nor GSSAPI, and a user's PGSSLMODE=verify-full would shut
// them out. Sets PGSSLMODE and PGGSSENCMODE to "disable" and removes the other variables of
// kEncryptionVariables. Changes the environment: call it before other threads start.
void IgnoreUsersEncryptionSettings();

// The folder with PostgreSQL's server programs (initdb, pg_ctl), or "" when none is installed.
std::string PostgresBinDirectory();
// The folder with the server programs of one major version (10 to 18): Debian's where that
// version is installed, otherwise those scripts/test.sh unpacks from the release packages into
// PostgresReleaseCache(); "" when there are none.
std::string PostgresBinDirectory(int version);
// Where scripts/test.sh keeps PostgreSQL's release packages, one folder per major version:
// TRP_POSTGRES_RELEASES, or /var/cache/tessaline-row-porter/postgresql for root, otherwise
// $XDG_CACHE_HOME (~/.cache)/tessaline-row-porter/postgresql.
std::string PostgresReleaseCache();

// `value` quoted as a setting of postgresql.conf.
std::string ServerSettingText(std::string_view value);

// `length` letters and digits drawn from the system's random source.
std::string RandomPassword(int length = 24);

}  // namespace trp
