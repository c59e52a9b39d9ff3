// Append benchmark: the engine against `psql \copy ... | psql \copy ...` between two databases of
// one server, the one-INSERT-per-row path, the pipelined INSERT path on a destination with a
// statement-level trigger, peak resident memory and the longest pause in event processing.
//
// The server comes from PGHOST, PGPORT, PGUSER and PGPASSWORD (or --host, --port, --user,
// --password), the user needing CREATEDB and pg_checkpoint; --temporary-cluster starts a throwaway
// one instead (fsync off, as for the tests; with --durable, PostgreSQL's durable defaults). The
// databases "bench_a" and "bench_b" are created afresh. Each engine run happens in a child process
// so that its peak resident memory can be read alone.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/temporary_cluster.h"
#include "append/append_operation.h"
#include "base/operation_host.h"
#include "bench_server.h"
#include "bench_tables.h"
#include "child_process.h"
#include "median.h"
#include "private_state.h"

namespace {

using Clock = std::chrono::steady_clock;
using trp::AppendStrategy;
using trp::bench::CreateSixColumnTable;
using trp::bench::ExpectRows;
using trp::bench::FillSixColumnTable;
using trp::bench::Median;
using trp::bench::ProfileFor;
using trp::bench::Sql;
using trp::bench::TimeCommand;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The host of a run without a screen: it measures the pauses between event processing.
class BenchHost : public trp::OperationHost {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ShowErrorBox(const std::string& text) override {
        if (errors++ == 0) std::cerr << "first error report: " << text << '\n';
    }
    trp::RowReportAnswer ShowRowErrorBox(const std::string& text) override {
        ShowErrorBox(text);
        return trp::RowReportAnswer::Ok;
    }
    void ShowMessageWithRefusedRows(const std::string& text, const std::string&,
                                    const std::string&) override {
        messages.push_back(text);
    }
    void SetBusyPointer(bool) override {}
    void SetProgress(double) override {}
    void ResetProgress() override {}
    void ProcessPendingEvents() override {
        const auto now = Clock::now();
        longest_gap = std::max(longest_gap, now - last);
        last = now;
    }

    Clock::time_point last = Clock::now();
    Clock::duration longest_gap{};
    std::vector<std::string> messages;
    int errors = 0;
};

// Child: one append of bench_a.<source> into bench_b.<destination>; prints
// "<seconds> <longest gap in ms> <error reports> <messages>".
int ChildRun(const std::string& strategy_name, const std::string& source,
             const std::string& destination) {
    trp::AppendOptions options;
    options.strategy = strategy_name == "row-by-row" ? AppendStrategy::RowByRow
                       : strategy_name == "inserts"  ? AppendStrategy::PipelinedInserts
                                                     : AppendStrategy::Fast;
    if (const char* batch = std::getenv("TRP_BENCH_INSERT_BATCH"))
        options.insert_batch_rows = std::stoul(batch);
    // Option2: the List1 table of database #1 goes into the List2 table of database #2.
    const trp::AppendRequest request{source, destination, false, ProfileFor("bench_a"),
                                     ProfileFor("bench_b")};
    BenchHost host;
    const auto start = Clock::now();
    host.last = start;
    trp::RunAppend(request, host, options);
    const double seconds = Seconds(Clock::now() - start);
    std::string said;
    for (const auto& m : host.messages) said += (said.empty() ? "" : "|") + m;
    std::printf("%.3f %.1f %d %s\n", seconds,
                std::chrono::duration<double, std::milli>(host.longest_gap).count(), host.errors,
                said.c_str());
    return 0;
}

struct ChildResult {
    double wall_seconds = 0;  // measured from outside, process start included
    double seconds = 0;       // measured inside, the append alone
    double longest_gap_ms = 0;
    int errors = 0;
    std::string messages;
    long max_rss_kb = 0;
    double cpu_seconds = 0;  // the engine's own processor time, user and system
};

ChildResult RunChild(const std::string& strategy, const std::string& source,
                     const std::string& destination) {
    const trp::bench::ChildOutcome child =
        trp::bench::RunSelf({"--child", strategy, source, destination});
    ChildResult result;
    result.wall_seconds = child.wall_seconds;
    result.max_rss_kb = child.peak_rss_kb;
    result.cpu_seconds = child.cpu_seconds;
    std::istringstream in(child.output);
    in >> result.seconds >> result.longest_gap_ms >> result.errors;
    std::getline(in >> std::ws, result.messages);
    if (!child.succeeded || result.messages != "Done." || result.errors != 0)
        throw std::runtime_error("engine run failed: " + child.output);
    return result;
}

void Fill(const std::string& table, long long rows) {
    FillSixColumnTable("bench_a", table, rows);
}

void Fresh(const std::string& table, const std::string& extra = {}) {
    CreateSixColumnTable("bench_b", table, extra);
}

void ExpectCount(const std::string& table, long long rows) {
    ExpectRows("bench_b", table, rows);
}

// The plain-table runs against the COPY pipe, and the peak memory at two table sizes; returns
// the longest pause in event processing seen.
double CopyAndMemory(long long rows, long long big_rows) {
    Fill("t", rows);
    // Three paired runs, the order within a pair alternating.
    std::vector<double> ratios, engine_times, pipe_times;
    long engine_rss_kb = 0;
    double longest_gap_ms = 0;
    const std::string pipe =
        "psql -X -q -v ON_ERROR_STOP=1 -d bench_a -c '\\copy t to stdout' | "
        "psql -X -q -v ON_ERROR_STOP=1 -d bench_b -c '\\copy t from stdin'";
    for (int pair = 0; pair < 3; ++pair) {
        double engine = 0, copy = 0;
        for (int turn = 0; turn < 2; ++turn) {
            Fresh("t");
            if ((turn == 0) == (pair % 2 == 0)) {
                const ChildResult r = RunChild("fast", "t", "t");
                engine = r.wall_seconds;
                engine_rss_kb = std::max(engine_rss_kb, r.max_rss_kb);
                longest_gap_ms = std::max(longest_gap_ms, r.longest_gap_ms);
            } else {
                copy = TimeCommand(pipe);
            }
            ExpectCount("t", rows);
        }
        engine_times.push_back(engine);
        pipe_times.push_back(copy);
        ratios.push_back(engine / copy);
        std::printf("pair %d: engine %.3f s, COPY pipe %.3f s, ratio %.3f\n", pair + 1, engine,
                    copy, engine / copy);
    }
    std::printf(
        "rows %lld: engine median %.3f s (%.0f rows/s), COPY pipe median %.3f s, "
        "median ratio %.3f (target <= 1.3)\n",
        rows, Median(engine_times), rows / Median(engine_times), Median(pipe_times),
        Median(ratios));

    Sql("bench_b", "DROP TABLE t");
    Sql("bench_a", "DROP TABLE t");
    Fill("t_big", big_rows);
    Fresh("t_big");
    const ChildResult big = RunChild("fast", "t_big", "t_big");
    ExpectCount("t_big", big_rows);
    longest_gap_ms = std::max(longest_gap_ms, big.longest_gap_ms);
    std::printf(
        "peak RSS: %lld rows %.1f MB, %lld rows %.1f MB, growth %.1f %% "
        "(targets <= 100 MB, <= 10 %%); %lld rows took %.3f s\n",
        rows, engine_rss_kb / 1024.0, big_rows, big.max_rss_kb / 1024.0,
        100.0 * (big.max_rss_kb - engine_rss_kb) / engine_rss_kb, big_rows, big.wall_seconds);
    Sql("bench_b", "DROP TABLE t_big");
    Sql("bench_a", "DROP TABLE t_big");
    return longest_gap_ms;
}

// One INSERT per row against the pipelined INSERT statements, on a destination with a
// statement-level trigger (where COPY is not used).
void InsertPaths(long long per_row_rows, long long insert_rows, double& longest_gap_ms) {
    Fresh("t_small");
    const ChildResult per_row = RunChild("row-by-row", "t_small", "t_small");
    ExpectCount("t_small", per_row_rows);
    const double per_row_rate = per_row_rows / per_row.seconds;
    std::printf("one INSERT per row, plain table: %lld rows in %.3f s, %.0f rows/s\n", per_row_rows,
                per_row.seconds, per_row_rate);

    const std::string trigger =
        "CREATE FUNCTION noop() RETURNS trigger LANGUAGE plpgsql AS "
        "$$ BEGIN RETURN NULL; END $$;"
        "CREATE TRIGGER per_statement AFTER INSERT ON t_small FOR EACH STATEMENT "
        "EXECUTE FUNCTION noop()";
    Fresh("t_small", trigger);
    const ChildResult per_row_trigger = RunChild("row-by-row", "t_small", "t_small");
    ExpectCount("t_small", per_row_rows);
    const double per_row_trigger_rate = per_row_rows / per_row_trigger.seconds;
    Sql("bench_b", "DROP TABLE t_small; DROP FUNCTION noop()");
    Fresh("t_insert", std::string(trigger).replace(trigger.find("ON t_small"), 10, "ON t_insert"));
    const ChildResult pipelined = RunChild("fast", "t_insert", "t_insert");
    ExpectCount("t_insert", insert_rows);
    longest_gap_ms = std::max(longest_gap_ms, pipelined.longest_gap_ms);
    const double pipelined_rate = insert_rows / pipelined.seconds;
    std::printf(
        "statement-level trigger: one INSERT per row %.0f rows/s (%lld rows), "
        "pipelined INSERT path %.0f rows/s (%lld rows, engine processor time %.2f s "
        "of %.2f s), %.1f x (target >= 10)\n",
        per_row_trigger_rate, per_row_rows, pipelined_rate, insert_rows, pipelined.cpu_seconds,
        pipelined.seconds, pipelined_rate / per_row_trigger_rate);
}

int Main(long long rows, long long big_rows, long long per_row_rows, long long insert_rows,
         bool inserts_only) {
    const trp::Profile server = ProfileFor("postgres");
    std::cout << "server " << server.server << ":" << server.port << " as " << server.user << "\n";
    for (const char* db : {"bench_a", "bench_b"}) {
        Sql("postgres", std::string("DROP DATABASE IF EXISTS ") + db);
        Sql("postgres", std::string("CREATE DATABASE ") + db);
    }
    Fill("t_small", per_row_rows);
    Fill("t_insert", insert_rows);
    double longest_gap_ms = 0;
    if (!inserts_only) longest_gap_ms = CopyAndMemory(rows, big_rows);
    InsertPaths(per_row_rows, insert_rows, longest_gap_ms);
    std::printf("longest gap between two pending-event calls: %.1f ms (target <= 100)\n",
                longest_gap_ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 4 && args[0] == "--child") {
            trp::bench::ReportOwnUsageAtExit();
            return ChildRun(args[1], args[2], args[3]);
        }
        bool inserts_only = false;
        long long rows = 1000000, big_rows = 4000000, per_row_rows = 20000, insert_rows = 200000;
        bool temporary_cluster = false;
        auto durability = trp::TemporaryCluster::Durability::Fast;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            const auto next = [&]() -> std::string {
                if (i + 1 >= args.size()) throw std::runtime_error(a + " needs a value");
                return args[++i];
            };
            if (a == "--temporary-cluster") {
                temporary_cluster = true;
            } else if (a == "--durable") {
                durability = trp::TemporaryCluster::Durability::Durable;
            } else if (a == "--host") {
                setenv("PGHOST", next().c_str(), 1);
            } else if (a == "--port") {
                setenv("PGPORT", next().c_str(), 1);
            } else if (a == "--user") {
                setenv("PGUSER", next().c_str(), 1);
            } else if (a == "--password") {
                setenv("PGPASSWORD", next().c_str(), 1);
            } else if (a == "--inserts-only") {
                inserts_only = true;
            } else if (a == "--rows") {
                rows = std::stoll(next());
            } else if (a == "--big-rows") {
                big_rows = std::stoll(next());
            } else if (a == "--per-row-rows") {
                per_row_rows = std::stoll(next());
            } else if (a == "--insert-rows") {
                insert_rows = std::stoll(next());
            } else {
                std::cerr << "usage: append_bench [--temporary-cluster [--durable] | --host H "
                             "--port P --user U --password W] [--rows N] [--big-rows N] "
                             "[--per-row-rows N] [--insert-rows N] [--inserts-only]\n";
                return 2;
            }
        }
        const trp::bench::PrivateStateFolder state;
        std::unique_ptr<trp::TemporaryCluster> cluster;
        if (temporary_cluster) cluster = trp::bench::StartThrowawayServer(durability);
        return Main(rows, big_rows, per_row_rows, insert_rows, inserts_only);
    } catch (const std::exception& e) {
        std::cerr << "append_bench: " << e.what() << '\n';
        return 1;
    }
}
