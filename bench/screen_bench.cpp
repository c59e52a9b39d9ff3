// The targets of the append, measured the way a user meets them: through the table selection
// screen on Qt's offscreen platform, from the press of "Start Appending" to the "Done." box,
// against a throwaway server with PostgreSQL's default durable settings, paired with the way
// the same rows move without this program. Not part of the test suite; scripts/bench.sh runs it.
//
// Every run of the screen happens in a child process (this program started again with
// --screen-child), so that its peak memory is the program's own.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/temporary_cluster.h"
#include "bench_server.h"
#include "child_process.h"
#include "private_state.h"
#include "screen_cases.h"
#include "screen_run.h"

namespace {

using trp::bench::BenchCase;
using trp::bench::BenchCases;

void Usage() {
    std::cerr << "usage: screen_bench [--existing-server] [--case NAME]... [--rows N] "
                 "[--pairs N] [--value-mb N]\n"
                 "  --existing-server  use the server of PGHOST, PGPORT, PGUSER and PGPASSWORD\n"
                 "                     (the user needs CREATEDB and pg_checkpoint) instead of a\n"
                 "                     throwaway one; its databases bench_a and bench_b are\n"
                 "                     made afresh\n"
                 "  --rows N           every chosen case moves N rows instead of its own number\n"
                 "  --pairs N          paired runs per case (5)\n"
                 "  --value-mb N       the length of the one large value (100)\n"
                 "cases (all by default, in this order):\n";
    for (const BenchCase& c : BenchCases())
        std::cerr << "  " << c.name << ": " << c.default_rows << " " << c.title << "\n";
}

std::string Server(const std::string& database, const std::string& sql) {
    return trp::bench::Scalar(database, sql);
}

void PrintSetting() {
    std::printf(
        "server: PostgreSQL %s at %s:%s; fsync %s, synchronous_commit %s, full_page_writes %s, "
        "shared_buffers %s, max_wal_size %s\n",
        Server("postgres", "SHOW server_version").c_str(), std::getenv("PGHOST"),
        std::getenv("PGPORT"), Server("postgres", "SHOW fsync").c_str(),
        Server("postgres", "SHOW synchronous_commit").c_str(),
        Server("postgres", "SHOW full_page_writes").c_str(),
        Server("postgres", "SHOW shared_buffers").c_str(),
        Server("postgres", "SHOW max_wal_size").c_str());
    std::printf("machine: %ld processors\n", sysconf(_SC_NPROCESSORS_ONLN));
}

int Run(const std::string& program, const std::vector<std::string>& args) {
    trp::bench::BenchSettings settings;
    std::vector<const BenchCase*> chosen;
    bool existing_server = false;
    std::string options;  // what every case's own command line repeats
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto next = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
            return args[++i];
        };
        if (a == "--existing-server") {
            existing_server = true;
            options += " " + a;
        } else if (a == "--case") {
            const std::string name = next();
            const BenchCase* found = nullptr;
            for (const BenchCase& c : BenchCases())
                if (name == c.name) found = &c;
            if (!found) throw std::runtime_error("no case " + name);
            chosen.push_back(found);
        } else if (a == "--rows") {
            settings.rows = std::stoll(next());
        } else if (a == "--pairs") {
            settings.pairs = std::stoi(next());
        } else if (a == "--value-mb") {
            settings.value_bytes = std::stoll(next()) << 20;
        } else {
            Usage();
            return 2;
        }
    }
    if (chosen.empty())
        for (const BenchCase& c : BenchCases()) chosen.push_back(&c);

    std::string invoked = program;
    for (const std::string& a : args) invoked += " " + a;
    std::printf("%s\n", invoked.c_str());

    std::unique_ptr<trp::TemporaryCluster> cluster;
    if (!existing_server)
        cluster = trp::bench::StartThrowawayServer(trp::TemporaryCluster::Durability::Durable);
    PrintSetting();
    for (const char* database : {"bench_a", "bench_b"}) {
        trp::bench::Sql("postgres", std::string("DROP DATABASE IF EXISTS ") + database);
        trp::bench::Sql("postgres", std::string("CREATE DATABASE ") + database);
    }

    trp::bench::BenchResults results;
    int failures = 0;
    for (const BenchCase* c : chosen) {
        const long long rows =
            c->sized_by_rows ? settings.rows.value_or(c->default_rows) : c->default_rows;
        std::string command = program + options + " --case " + c->name;
        if (!c->sized_by_rows) {
            command += " --value-mb " + std::to_string(settings.value_bytes >> 20);
        } else {
            command +=
                " --rows " + std::to_string(rows) + " --pairs " + std::to_string(settings.pairs);
        }
        std::printf("\n== %s: %lld %s\n", c->name, rows, c->title);
        std::fflush(stdout);
        try {
            c->run(trp::bench::CaseContext{settings, results, rows, command});
        } catch (const std::exception& e) {
            ++failures;
            std::printf("  FAILED: %s\n", e.what());
        }
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == trp::bench::kScreenChild) {
        trp::bench::ReportOwnUsageAtExit();
        return trp::bench::ScreenChildMain({args.begin() + 1, args.end()});
    }
    try {
        const trp::bench::PrivateStateFolder state;
        return Run(argv[0], args);
    } catch (const std::exception& e) {
        std::cerr << "screen_bench: " << e.what() << '\n';
        return 1;
    }
}
