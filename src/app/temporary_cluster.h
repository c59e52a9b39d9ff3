#pragma once

#include <string>

#include "connection/profile.h"

namespace trp {

// A throwaway PostgreSQL server in a temporary directory, listening on a free loopback port,
// stopped and removed again by the destructor. The demo mode and the tests run against one.
// As root the server runs as the "postgres" user, since PostgreSQL refuses to run as root.
class TemporaryCluster {
public:
    // Creates and starts the cluster; throws std::runtime_error with the tools' output on failure.
    TemporaryCluster();
    ~TemporaryCluster();
    TemporaryCluster(const TemporaryCluster&) = delete;
    TemporaryCluster& operator=(const TemporaryCluster&) = delete;

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    const std::string& Directory() const { return directory_; }
    static constexpr const char* kSuperuser = "trp_admin";
    static constexpr const char* kSuperuserPassword = "trp admin pw";

    // The superuser's profile for one database of this cluster.
    Profile AdminProfile(const std::string& database = "postgres") const;
    // Runs SQL as the superuser on one database; throws DbError with the server's message.
    void Execute(const std::string& database, const std::string& sql) const;

private:
    void Stop() noexcept;

    std::string host_ = "127.0.0.1";
    int port_ = 0;
    std::string directory_;
    std::string bin_;
    bool started_ = false;
};

// The folder with PostgreSQL's server programs (initdb, pg_ctl), or "" when none is installed.
std::string PostgresBinDirectory();

}  // namespace trp
