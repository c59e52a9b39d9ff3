#pragma once

// The servers the campaign's runs meet, started once and reused: a source server, a destination
// server of each drawn version, poolers in front of them, and a destination in a network
// namespace of its own whose link can be cut. Each run gets a fresh destination table and a
// source table of its draw.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/temporary_cluster.h"
#include "campaign/draw.h"
#include "db/profile.h"
#include "support/network_namespace.h"
#include "support/pg_fixture.h"
#include "support/pgbouncer.h"

namespace trp::campaign {

inline constexpr const char* kDestinationDatabase = "campaign_destination";
inline constexpr const char* kSourceDatabase = "campaign_source";
inline constexpr const char* kDestinationTable = "arrivals";

// Where one run's rows come from and go to.
struct Scene {
    TemporaryCluster* source_server = nullptr;
    TemporaryCluster* destination_server = nullptr;
    test::PgBouncer* pooler = nullptr;
    test::NetworkNamespace* network = nullptr;  // the destination's, when its link can be cut
    Profile source;                             // as the program logs in
    Profile destination;  // as the program logs in: through the pooler where drawn
    std::string source_database;
    std::string source_table;
    long long source_rows = 0;
    long long refusable_rows = 0;  // source rows the destination refuses
};

class World {
public:
    World();
    ~World();

    // Why the draw's destination server cannot start here, or "".
    static std::string Missing(const Draw& draw);
    // The servers, pooler and tables of the draw, the destination table made afresh.
    Scene Prepare(const Draw& draw);
    // Puts a server back as a run found it: running, unfrozen, linked, without a held commit.
    void Restore(const Scene& scene);

private:
    TemporaryCluster& SourceServer();
    TemporaryCluster& DestinationServer(int version);
    TemporaryCluster& NamespacedServer();
    test::PgBouncer& Pooler(TemporaryCluster& server, Route route);
    // The source table of the draw's kind and size in `database` of `server`, made once.
    std::string SourceTable(TemporaryCluster& server, const std::string& database,
                            const Draw& draw);
    // A tablespace "campaign_small" of the server on a tmpfs of a few megabytes, made once.
    void SmallTablespace(TemporaryCluster& server);

    std::unique_ptr<TemporaryCluster> source_server_;
    std::map<int, std::unique_ptr<TemporaryCluster>> destination_servers_;
    std::unique_ptr<test::NetworkNamespace> network_;
    std::unique_ptr<TemporaryCluster> namespaced_server_;
    std::map<std::pair<TemporaryCluster*, Route>, std::unique_ptr<test::PgBouncer>> poolers_;
    std::map<std::string, long long> made_tables_;
    std::vector<std::string> mounts_;
};

// The first column of the first row of a superuser's query.
std::string AdminScalar(const TemporaryCluster& server, const std::string& database,
                        const std::string& sql);
// The process ids of the server: the postmaster and every process it started.
std::vector<int> ServerProcesses(const TemporaryCluster& server);

}  // namespace trp::campaign
