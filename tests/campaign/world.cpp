#include "campaign/world.h"

#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace trp::campaign {
namespace fs = std::filesystem;

namespace {

std::string MakeSourceSql(const std::string& table, const Draw& draw) {
    const bool text = draw.path == Path::TextCopy;
    const std::string refused_value = text ? "'bad'" : "-1";
    const std::string value = text ? "g::text" : "g";
    const std::string refused =
        draw.refused ? "g % 1000 BETWEEN 500 AND " + std::to_string(499 + draw.refused_together)
                     : "false";
    return "DROP TABLE IF EXISTS " + table + "; CREATE TABLE " + table + " (id int, v " +
           (text ? "text" : "int") + ", pad text); INSERT INTO " + table + " SELECT g, CASE WHEN " +
           refused + " THEN " + refused_value + " ELSE " + value +
           " END, repeat(md5(g::text), 32) FROM generate_series(1, " + std::to_string(draw.rows) +
           ") g; ALTER TABLE " + table + " OWNER TO " + test::kTestUser + "; ANALYZE " + table;
}

// The destination: without a key a row sent twice stays visible, with a unique one it is
// refused; a CHECK refuses the source's negative values, the integer column its 'bad' ones.
std::string MakeDestinationSql(const Draw& draw) {
    std::string sql = std::string("DROP TABLE IF EXISTS ") + kDestinationTable +
                      "; DROP TABLE IF EXISTS campaign_hold; CREATE TABLE " + kDestinationTable +
                      " (id int, v int CHECK (v >= 0), pad text)" +
                      (draw.fault == Fault::DiskFull ? " TABLESPACE campaign_small" : "") +
                      "; ALTER TABLE " + kDestinationTable + " OWNER TO " + test::kTestUser + ";";
    if (draw.keyed) sql += std::string("CREATE UNIQUE INDEX ON ") + kDestinationTable + " (id);";
    if (draw.path == Path::Inserts) {
        sql +=
            "CREATE OR REPLACE FUNCTION campaign_touch() RETURNS trigger LANGUAGE plpgsql AS "
            "$$ BEGIN RETURN NEW; END $$; CREATE TRIGGER touch BEFORE INSERT ON " +
            std::string(kDestinationTable) + " FOR EACH ROW EXECUTE PROCEDURE campaign_touch();";
    }
    if (draw.fault == Fault::SlowCommitTrigger) {
        // The first COMMIT that finds seconds above 0 sleeps that long, once per transaction.
        sql += "CREATE TABLE campaign_hold (seconds int); INSERT INTO campaign_hold VALUES (" +
               std::to_string(draw.fault_seconds) +
               "); GRANT SELECT ON campaign_hold TO PUBLIC;"
               "CREATE OR REPLACE FUNCTION campaign_slow() RETURNS trigger LANGUAGE plpgsql AS $$ "
               "BEGIN IF current_setting('campaign.slept', true) IS DISTINCT FROM 'yes' THEN "
               "PERFORM set_config('campaign.slept', 'yes', true); "
               "PERFORM pg_sleep(seconds) FROM campaign_hold; END IF; RETURN NULL; END $$; "
               "CREATE CONSTRAINT TRIGGER slow AFTER INSERT ON " +
               std::string(kDestinationTable) +
               " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE PROCEDURE campaign_slow();";
    }
    return sql;
}

bool HasSmallTablespace(const TemporaryCluster& server) {
    return AdminScalar(server, "postgres",
                       "SELECT count(*) FROM pg_tablespace WHERE spcname = 'campaign_small'") ==
           "1";
}

}  // namespace

World::World() = default;
World::~World() {
    poolers_.clear();
    // Before the servers go with their folders, which a mount inside would keep.
    for (const std::string& mount : mounts_)
        QProcess::execute(QStringLiteral("umount"),
                          {QStringLiteral("-l"), QString::fromStdString(mount)});
}

std::string World::Missing(const Draw& draw) {
    if (draw.fault == Fault::DiskFull && ::geteuid() != 0)
        return "a tmpfs for a full disk needs root";
    return test::MissingServer(draw.server);
}

void World::SmallTablespace(TemporaryCluster& server) {
    if (HasSmallTablespace(server)) return;
    const std::string folder = server.Directory() + "/small";
    fs::create_directory(folder);
    if (QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           QStringLiteral("size=24m,mode=0700"), QStringLiteral("campaign"),
                           QString::fromStdString(folder)}) != 0)
        throw std::runtime_error("could not mount a tmpfs on " + folder);
    mounts_.push_back(folder);
    // The server's account owns the server's folder: the tablespace's is made alike.
    QProcess::execute(QStringLiteral("chown"),
                      {QStringLiteral("--reference=") + QString::fromStdString(server.Directory()),
                       QString::fromStdString(folder)});
    server.Execute("postgres", "CREATE TABLESPACE campaign_small LOCATION '" + folder + "'");
}

TemporaryCluster& World::SourceServer() {
    if (!source_server_) {
        source_server_ = std::make_unique<TemporaryCluster>(TemporaryCluster::Durability::Fast,
                                                            "campaign-source");
        source_server_->CreateLoginRole(test::kTestUser, test::TestPassword(), "CREATEDB");
        source_server_->CreateDatabase(kSourceDatabase, test::kTestUser);
    }
    return *source_server_;
}

TemporaryCluster& World::DestinationServer(int version) {
    std::unique_ptr<TemporaryCluster>& server = destination_servers_[version];
    if (!server) {
        // Durable, as deployed: every commit it acknowledged survives a crash.
        server = std::make_unique<TemporaryCluster>(
            TemporaryCluster::Durability::Durable, "campaign-destination" + std::to_string(version),
            ServerNetwork{}, version);
        server->CreateLoginRole(test::kTestUser, test::TestPassword(), "CREATEDB");
        server->CreateDatabase(kDestinationDatabase, test::kTestUser);
        if (const char* keep = std::getenv("TRP_CAMPAIGN_SERVER_LOG"); keep && *keep) {
            server->Execute("postgres", "ALTER SYSTEM SET log_statement = 'all'");
            server->Execute("postgres", "ALTER SYSTEM SET log_line_prefix = '%m [%p] %x '");
            server->Execute("postgres", "SELECT pg_reload_conf()");
        }
    }
    return *server;
}

TemporaryCluster& World::NamespacedServer() {
    if (!namespaced_server_) {
        network_ = std::make_unique<test::NetworkNamespace>();
        if (!network_->Ready())
            throw std::runtime_error("no network namespace: " +
                                     network_->Complaint().toStdString());
        namespaced_server_ = std::make_unique<TemporaryCluster>(
            TemporaryCluster::Durability::Durable, "campaign-namespaced",
            ServerNetwork{network_->There(), network_->Here() + "/32", network_->Launcher()});
        namespaced_server_->CreateLoginRole(test::kTestUser, test::TestPassword(), "CREATEDB");
        namespaced_server_->CreateDatabase(kDestinationDatabase, test::kTestUser);
    }
    return *namespaced_server_;
}

test::PgBouncer& World::Pooler(TemporaryCluster& server, Route route) {
    std::unique_ptr<test::PgBouncer>& pooler = poolers_[{&server, route}];
    if (!pooler)
        pooler = std::make_unique<test::PgBouncer>(server, route == Route::PoolerSession
                                                               ? test::PoolMode::Session
                                                               : test::PoolMode::Transaction);
    return *pooler;
}

std::string World::SourceTable(TemporaryCluster& server, const std::string& database,
                               const Draw& draw) {
    const std::string table =
        std::string("source_") + (draw.path == Path::TextCopy ? "text" : "int") + "_" +
        std::to_string(draw.rows) +
        (draw.refused ? "_refused_" + std::to_string(draw.refused_together) : "");
    const std::string key = std::to_string(server.Port()) + "/" + database + "/" + table;
    if (!made_tables_.count(key)) {
        server.Execute(database, MakeSourceSql(table, draw));
        made_tables_[key] = draw.rows;
    }
    return table;
}

namespace {

// A pooler whose logins to its server failed (the server restarted in the run before) refuses
// every client for a while (server_login_retry): the next run starts once it admits one again.
void AwaitLogin(const Profile& profile) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (true) {
        try {
            test::QueryRows(profile, "SELECT 1");
            return;
        } catch (const std::exception&) {
            if (std::chrono::steady_clock::now() > until) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
}

}  // namespace

Scene World::Prepare(const Draw& draw) {
    Scene scene;
    const bool cut = draw.fault == Fault::LinkCut;
    TemporaryCluster& destination = cut ? NamespacedServer() : DestinationServer(draw.server);
    scene.destination_server = &destination;
    scene.network = cut ? network_.get() : nullptr;
    if (draw.path == Path::OneDatabase) {
        scene.source_server = &destination;
        scene.source_database = kDestinationDatabase;
    } else {
        scene.source_server = &SourceServer();
        scene.source_database = kSourceDatabase;
    }
    scene.source_table = SourceTable(*scene.source_server, scene.source_database, draw);
    scene.source_rows = draw.rows;
    scene.refusable_rows = draw.refused ? draw.rows / 1000 * draw.refused_together : 0;
    scene.source = test::UserProfileOn(*scene.source_server, scene.source_database);
    if (draw.route == Route::Direct) {
        scene.destination = test::UserProfileOn(destination, kDestinationDatabase);
    } else {
        scene.pooler = &Pooler(destination, draw.route);
        scene.destination = scene.pooler->ProfileFor(kDestinationDatabase);
        AwaitLogin(scene.destination);
    }
    if (draw.fault == Fault::DiskFull) SmallTablespace(destination);
    destination.Execute(kDestinationDatabase,
                        std::string("DROP TABLE IF EXISTS ") + kDestinationTable);
    // Where a tablespace filled up, a checkpoint after the drop keeps a later crash's recovery
    // from writing it all again into the full tmpfs, which would keep the server from starting.
    if (HasSmallTablespace(destination)) destination.Execute("postgres", "CHECKPOINT");
    destination.Execute(kDestinationDatabase, MakeDestinationSql(draw));
    if (draw.fault == Fault::CommitHeld)
        destination.Execute("postgres",
                            "ALTER SYSTEM SET synchronous_standby_names = 'campaign_missing'");
    destination.Execute("postgres", "SELECT pg_reload_conf()");
    return scene;
}

void World::Restore(const Scene& scene) {
    for (TemporaryCluster* server : {scene.source_server, scene.destination_server})
        for (const int pid : ServerProcesses(*server)) ::kill(pid, SIGCONT);
    if (scene.network) scene.network->Mend();
    TemporaryCluster& destination = *scene.destination_server;
    try {
        AdminScalar(destination, "postgres", "SELECT 1");
    } catch (const std::exception&) {
        destination.StartServer();
    }
    destination.Execute("postgres", "ALTER SYSTEM RESET synchronous_standby_names");
    destination.Execute("postgres", "SELECT pg_reload_conf()");
}

std::string AdminScalar(const TemporaryCluster& server, const std::string& database,
                        const std::string& sql) {
    const test::Rows rows = test::QueryRows(server.AdminProfile(database), sql);
    if (rows.empty() || rows[0].empty() || !rows[0][0]) return {};
    return *rows[0][0];
}

std::vector<int> ServerProcesses(const TemporaryCluster& server) {
    std::ifstream pid_file(server.DataDirectory() + "/postmaster.pid");
    int postmaster = 0;
    if (!(pid_file >> postmaster) || postmaster <= 0) return {};
    std::vector<int> processes{postmaster};
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // "pid (command) state ppid ...": the command may hold blanks and parentheses.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        int parent = 0;
        rest >> state >> parent;
        if (parent == postmaster) processes.push_back(std::stoi(name));
    }
    return processes;
}

}  // namespace trp::campaign
