// The cases of the targets table: the engine through the screen against the way a user without
// this program would move the rows.
#include "screen_cases.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "bench_server.h"
#include "bench_tables.h"
#include "delay_proxy.h"
#include "median.h"
#include "paired_runs.h"

namespace trp::bench {
namespace {

constexpr const char* kSource = "bench_a";
constexpr const char* kDestination = "bench_b";
constexpr auto kOneWayDelay = std::chrono::microseconds(5000);  // a 10 ms round trip

// Does nothing, once per statement: enough to keep COPY away from the destination.
constexpr const char* kStatementTrigger =
    "CREATE OR REPLACE FUNCTION noop_trigger() RETURNS trigger LANGUAGE plpgsql AS "
    "$$ BEGIN RETURN NULL; END $$;"
    "CREATE TRIGGER per_statement AFTER INSERT ON {} FOR EACH STATEMENT "
    "EXECUTE FUNCTION noop_trigger();";
// Logs every row's id in a second table.
constexpr const char* kInsertRule =
    "DROP TABLE IF EXISTS {}_log; CREATE TABLE {}_log (id bigint);"
    "CREATE RULE log_insert AS ON INSERT TO {} DO ALSO INSERT INTO {}_log VALUES (NEW.id);";

// `sql` with every "{}" replaced by the table's name.
std::string ForTable(std::string sql, const std::string& table) {
    for (size_t at; (at = sql.find("{}")) != std::string::npos;) sql.replace(at, 2, table);
    return sql;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void Header(const CaseContext& context, const std::string& goal, const std::string& reference) {
    std::printf("  goal: %s\n  command: %s\n", goal.c_str(), context.command.c_str());
    if (!reference.empty()) std::printf("  reference: %s\n", reference.c_str());
    const std::time_t now = std::time(nullptr);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", std::localtime(&now));
    std::printf("  started %s, load average %s\n", clock, LoadAverage().c_str());
    std::fflush(stdout);
}

std::string CopyPipe(const std::string& source, const std::string& destination,
                     const std::string& destination_psql) {
    return Psql(kSource) + " -c \"\\copy (select * from " + source + ") to stdout\" | " +
           destination_psql + " -c \"\\copy " + destination + " from stdin\"";
}

// The rows of bench_a's source go into bench_b's destination: Option2.
ScreenRun IntoDatabase2(const std::string& source, const std::string& destination,
                        const Profile& destination_profile) {
    return ScreenRun{ProfileFor(kSource), destination_profile, source, destination, false};
}

// The memory case reads the peaks of the plain local runs.
void KeepPeak(const CaseContext& context, const std::vector<PairResult>& pairs) {
    long& peak = context.results.peak_rss_kb_by_rows[context.rows];
    for (const PairResult& pair : pairs) peak = std::max(peak, pair.screen.peak_rss_kb);
}

// Source in bench_a, destination in bench_b (behind the proxy on `proxy_port` unless 0),
// against the text COPY pipe between the same two.
std::vector<PairResult> AgainstCopyPipe(const CaseContext& context, const std::string& source,
                                        const std::string& destination, int proxy_port,
                                        const Goal& goal) {
    const bool proxied = proxy_port != 0;
    Comparison comparison;
    comparison.screen = IntoDatabase2(
        source, destination,
        proxied ? ProfileThrough(kDestination, proxy_port) : ProfileFor(kDestination));
    comparison.reference_command = CopyPipe(
        source, destination, proxied ? PsqlThrough(kDestination, proxy_port) : Psql(kDestination));
    comparison.screen_rows = comparison.reference_rows = context.rows;
    comparison.destination_database = kDestination;
    comparison.destination_table = destination;
    Header(context,
           "median time " + goal.Text() + " the text COPY pipe's" +
               (proxied ? ", both through the same delay proxy" : ""),
           comparison.reference_command);
    return RunPairs(context.settings.pairs, comparison, goal);
}

void SixColumnsCase(const CaseContext& context, const Goal& goal) {
    const std::string source = SixColumnSource(kSource, context.rows);
    CreateSixColumnTable(kDestination, "six_dst");
    KeepPeak(context, AgainstCopyPipe(context, source, "six_dst", 0, goal));
}

void Local4m(const CaseContext& context) {
    SixColumnsCase(context, Goal{true, 0.85});
}

// Into an emptied table with a primary key and an index on a text column: the destination's
// index upkeep is most of the work.
void Indexed4m(const CaseContext& context) {
    const std::string source = SixColumnSource(kSource, context.rows);
    CreateSixColumnTable(kDestination, "indexed_dst",
                         "ALTER TABLE indexed_dst ADD PRIMARY KEY (id); "
                         "CREATE INDEX indexed_dst_name ON indexed_dst (name);");
    AgainstCopyPipe(context, source, "indexed_dst", 0, Goal{true, 0.65});
}

void Local1m(const CaseContext& context) {
    SixColumnsCase(context, Goal{true, 1.0});
}

void Proxy1m(const CaseContext& context) {
    const std::string source = SixColumnSource(kSource, context.rows);
    CreateSixColumnTable(kDestination, "six_dst");
    const Profile server = ProfileFor(kDestination);
    DelayProxy proxy(server.server, std::stoi(server.port), kOneWayDelay);
    std::printf("  delay proxy: 127.0.0.1:%d -> %s:%s, %lld us each way\n", proxy.Port(),
                server.server.c_str(), server.port.c_str(),
                static_cast<long long>(kOneWayDelay.count()));
    AgainstCopyPipe(context, source, "six_dst", proxy.Port(), Goal{true, 1.1});
}

void Wide300k(const CaseContext& context) {
    const std::string source = WideSource(kSource, context.rows);
    CreateWideTable(kDestination, "wide_dst");
    AgainstCopyPipe(context, source, "wide_dst", 0, Goal{true, 0.9});
}

// Both profiles name bench_a; Option1 stays checked (the options are disabled), so the List2
// table goes into the List1 table.
void SameDatabase1m(const CaseContext& context) {
    const std::string source = SixColumnSource(kSource, context.rows);
    const std::string destination = "same_dst";
    CreateSixColumnTable(kSource, destination);
    const Goal goal{true, 0.7};
    Comparison comparison;
    comparison.screen =
        ScreenRun{ProfileFor(kSource), ProfileFor(kSource), destination, source, true};
    comparison.reference_command =
        Psql(kSource) + " -c \"INSERT INTO " + destination + " SELECT * FROM " + source + "\"";
    comparison.screen_rows = comparison.reference_rows = context.rows;
    comparison.destination_database = kSource;
    comparison.destination_table = destination;
    Header(context, "median time " + goal.Text() + " that of INSERT ... SELECT in psql",
           comparison.reference_command);
    RunPairs(context.settings.pairs, comparison, goal);
}

// A destination that takes the INSERT path, against one INSERT per row sent by psql, each
// committed on its own. That one is slow, so it moves a tenth of the rows; rows per second are
// compared.
void AgainstOneInsertPerRow(const CaseContext& context, const std::string& destination,
                            const char* extra_sql, const std::string& also_truncate) {
    const long long reference_rows = std::max(1LL, context.rows / 10);
    const std::string source = SixColumnSource(kSource, context.rows);
    const std::string reference_source = SixColumnSource(kSource, reference_rows);
    CreateSixColumnTable(kDestination, destination, ForTable(extra_sql, destination));
    const Goal goal{false, 10};
    Comparison comparison;
    comparison.screen = IntoDatabase2(source, destination, ProfileFor(kDestination));
    comparison.reference_command = Psql(kSource) + " -At -c \"" +
                                   SixColumnInsertStatements(reference_source, destination) +
                                   "\" | " + Psql(kDestination);
    comparison.screen_rows = context.rows;
    comparison.reference_rows = reference_rows;
    comparison.rows_per_second = true;
    comparison.destination_database = kDestination;
    comparison.destination_table = destination;
    comparison.also_truncate = also_truncate;
    Header(context, "median rows per second " + goal.Text() + " those of one INSERT per row",
           comparison.reference_command);
    RunPairs(context.settings.pairs, comparison, goal);
}

void Trigger(const CaseContext& context) {
    AgainstOneInsertPerRow(context, "trigger_dst", kStatementTrigger, {});
}

void Rule(const CaseContext& context) {
    AgainstOneInsertPerRow(context, "rule_dst", kInsertRule, "rule_dst_log");
}

// Pairs of runs, in alternating order: `refusing` (its destination refusing `refused` rows,
// "Ignore All" at the first report) against `clean` (refusing none); each destination is emptied
// before its run.
void RefusingAgainstClean(const CaseContext& context, const ScreenRun& clean, ScreenRun refusing,
                          long long refused, const Goal& goal) {
    Header(context, "median time " + goal.Text() + " that of the same run refusing no row", {});
    refusing.ignore_all = true;
    std::vector<double> ratios, clean_seconds, refusing_seconds;
    for (int pair = 0; pair < context.settings.pairs; ++pair) {
        double seconds[2] = {0, 0};
        for (int turn = 0; turn < 2; ++turn) {
            const bool refusing_turn = (turn == 0) == (pair % 2 == 0);
            const ScreenRun& run = refusing_turn ? refusing : clean;
            ResetTable(kDestination, run.table2);
            const ScreenResult result = RunThroughScreen(run);
            ExpectRows(kDestination, run.table2, context.rows - (refusing_turn ? refused : 0));
            seconds[refusing_turn ? 1 : 0] = result.seconds;
        }
        clean_seconds.push_back(seconds[0]);
        refusing_seconds.push_back(seconds[1]);
        ratios.push_back(seconds[1] / seconds[0]);
        std::printf("  pair %d: refusing %lld rows %.3f s, refusing none %.3f s: %.3fx\n", pair + 1,
                    refused, seconds[1], seconds[0], ratios.back());
        std::fflush(stdout);
    }
    const double ratio = Median(ratios);
    std::printf(
        "  median of %d pairs: refusing %.3f s, refusing none %.3f s, ratio %.3fx; goal "
        "%s: %s\n",
        context.settings.pairs, Median(refusing_seconds), Median(clean_seconds), ratio,
        goal.Text().c_str(), goal.MetBy(ratio) ? "met" : "NOT met");
    std::fflush(stdout);
}

// The six-column rows into a destination whose check refuses one row in `every`.
void RefusedByCheck(const CaseContext& context, long long every, const Goal& goal) {
    const std::string source = SixColumnSource(kSource, context.rows);
    CreateSixColumnTable(kDestination, "six_dst");
    CreateSixColumnTable(
        kDestination, "refusing_dst",
        "ALTER TABLE refusing_dst ADD CHECK (id % " + std::to_string(every) + " <> 0);");
    RefusingAgainstClean(context, IntoDatabase2(source, "six_dst", ProfileFor(kDestination)),
                         IntoDatabase2(source, "refusing_dst", ProfileFor(kDestination)),
                         context.rows / every, goal);
}

void Refused1k(const CaseContext& context) {
    RefusedByCheck(context, 1000, Goal{true, 1.5});
}

void Refused100(const CaseContext& context) {
    RefusedByCheck(context, 100, Goal{true, 3.0});
}

// Text for an integer column (the text path), one value in 1,000 "bad": the destination's input
// refuses it. Against the same rows with every value a number.
void Syntax1k(const CaseContext& context) {
    const std::string clean = NumbersAsTextSource(kSource, context.rows, 0);
    const std::string bad = NumbersAsTextSource(kSource, context.rows, 1000);
    CreateNumbersTable(kDestination, "numbers_dst");
    RefusingAgainstClean(context, IntoDatabase2(clean, "numbers_dst", ProfileFor(kDestination)),
                         IntoDatabase2(bad, "numbers_dst", ProfileFor(kDestination)),
                         context.rows / 1000, Goal{true, 1.5});
}

// A run again into a destination that already holds every row under its primary key: every row
// is refused ("Ignore All" at the first report). Rows per second.
void AllRefused(const CaseContext& context) {
    constexpr double kGoalRowsPerSecond = 20000;
    const std::string source = SixColumnSource(kSource, context.rows);
    FillSixColumnTable(kDestination, "keyed_dst", context.rows);
    Sql(kDestination, "ALTER TABLE keyed_dst ADD PRIMARY KEY (id)");
    Sql(kDestination, "CHECKPOINT");
    char goal[96];
    std::snprintf(goal, sizeof goal, "median rows per second >= %.0f", kGoalRowsPerSecond);
    Header(context, goal, {});
    ScreenRun again = IntoDatabase2(source, "keyed_dst", ProfileFor(kDestination));
    again.ignore_all = true;
    std::vector<double> rates;
    for (int run = 0; run < context.settings.pairs; ++run) {
        const ScreenResult result = RunThroughScreen(again);
        ExpectRows(kDestination, "keyed_dst", context.rows);
        rates.push_back(context.rows / result.seconds);
        std::printf("  run %d: %lld rows refused in %.3f s: %.0f rows/s\n", run + 1, context.rows,
                    result.seconds, rates.back());
        std::fflush(stdout);
    }
    const double rate = Median(rates);
    std::printf("  median of %d runs: %.0f rows/s; goal: %s\n", context.settings.pairs, rate,
                rate >= kGoalRowsPerSecond ? "met" : "NOT met");
    std::fflush(stdout);
}

// Peak memory at the case's size and four times it, from the pairs of the local cases when they
// ran at those sizes, otherwise from one run each.
void Memory(const CaseContext& context) {
    constexpr double kLimitMb = 100;
    constexpr double kFlatPercent = 10;
    char goal[128];
    std::snprintf(goal, sizeof goal,
                  "peak resident memory <= %.0f MB at both sizes, the larger within %.0f %% of "
                  "the smaller",
                  kLimitMb, kFlatPercent);
    Header(context, goal, {});
    std::vector<long> peaks;
    for (const long long rows : {context.rows, context.rows * 4}) {
        auto& known = context.results.peak_rss_kb_by_rows;
        const bool ran_here = !known.count(rows);
        if (ran_here) {
            const std::string source = SixColumnSource(kSource, rows);
            CreateSixColumnTable(kDestination, "six_dst");
            const ScreenResult run =
                RunThroughScreen(IntoDatabase2(source, "six_dst", ProfileFor(kDestination)));
            ExpectRows(kDestination, "six_dst", rows);
            known[rows] = run.peak_rss_kb;
            std::printf("  %lld rows: one run, %.3f s, %.1f MB before the press\n", rows,
                        run.seconds, Megabytes(run.rss_at_press_kb));
        }
        peaks.push_back(known[rows]);
        std::printf("  %lld rows: peak %.1f MB%s\n", rows, Megabytes(known[rows]),
                    ran_here ? "" : " (the highest of the pairs above)");
    }
    const double growth = 100.0 * (peaks[1] - peaks[0]) / peaks[0];
    const bool met = Megabytes(std::max(peaks[0], peaks[1])) <= kLimitMb && growth <= kFlatPercent;
    std::printf("  growth %.1f %%; goal: %s\n", growth, met ? "met" : "NOT met");
}

// One row with one large text value, into a plain destination (the COPY path) and into one with
// a trigger (the INSERT path); the peak memory against the value's length.
void LargeValue(const CaseContext& context) {
    const long long bytes = context.settings.value_bytes;
    const std::string source = OneValueSource(kSource, bytes);
    struct Path {
        const char* name;
        const char* destination;
        const char* extra_sql;
        double limit;
    };
    const Path paths[] = {
        {"COPY path, plain destination", "value_dst", "", 3},
        {"INSERT path, destination with a trigger", "value_dst_trigger", kStatementTrigger, 5}};
    Header(context,
           "peak resident memory <= 3x the value on the COPY path, <= 5x on the INSERT path", {});
    for (const Path& path : paths) {
        CreateOneValueTable(kDestination, path.destination,
                            ForTable(path.extra_sql, path.destination));
        ResetTable(kDestination, path.destination);
        const ScreenResult run =
            RunThroughScreen(IntoDatabase2(source, path.destination, ProfileFor(kDestination)));
        const std::string stored = Scalar(kDestination, std::string("SELECT count(*) || ' ' || "
                                                                    "sum(length(body)) FROM ") +
                                                            path.destination);
        if (stored != "1 " + std::to_string(bytes))
            throw std::runtime_error(std::string(path.destination) + " holds " + stored);
        const double times = run.peak_rss_kb * 1024.0 / bytes;
        std::printf(
            "  %s: %.3f s, peak %.1f MB = %.2fx the value (%.1f MB before the press, %.2fx "
            "above it); goal <= %gx: %s\n",
            path.name, run.seconds, Megabytes(run.peak_rss_kb), times,
            Megabytes(run.rss_at_press_kb),
            (run.peak_rss_kb - run.rss_at_press_kb) * 1024.0 / bytes, path.limit,
            times <= path.limit ? "met" : "NOT met");
        std::fflush(stdout);
    }
}

}  // namespace

const std::vector<BenchCase>& BenchCases() {
    static const std::vector<BenchCase> cases = {
        {"local4m",
         "rows x 6 columns, two databases on one local server, against the text "
         "COPY pipe",
         4000000, Local4m},
        {"indexed4m",
         "rows x 6 columns into an emptied table with a primary key and a text index, "
         "against the text COPY pipe into the same table",
         4000000, Indexed4m},
        {"local1m", "rows x 6 columns, the same two databases, against the text COPY pipe", 1000000,
         Local1m},
        {"proxy1m",
         "rows x 6 columns, destination behind a 10 ms round trip, against the pipe "
         "through the same proxy",
         1000000, Proxy1m},
        {"samedb1m", "rows x 6 columns within one database, against INSERT ... SELECT", 1000000,
         SameDatabase1m},
        {"wide300k",
         "rows x 30 columns (numeric, timestamptz, jsonb, text, bytea), against the "
         "text COPY pipe",
         300000, Wide300k},
        {"trigger",
         "rows x 6 columns into a destination with a statement-level trigger (INSERT "
         "path), against one INSERT per row",
         200000, Trigger},
        {"rule",
         "rows x 6 columns into a destination with an INSERT rule (INSERT path), against "
         "one INSERT per row",
         200000, Rule},
        {"refused1k",
         "rows x 6 columns into a destination that refuses one in 1,000 (\"Ignore All\"), "
         "against the same run refusing none",
         1000000, Refused1k},
        {"refused100",
         "rows x 6 columns into a destination that refuses one in 100 (\"Ignore All\"), "
         "against the same run refusing none",
         1000000, Refused100},
        {"syntax1k",
         "rows of text into an integer column, one in 1,000 not a number (text path, "
         "\"Ignore All\"), against the same rows all numbers",
         500000, Syntax1k},
        {"allrefused",
         "rows x 6 columns again into a destination that holds them all under its primary "
         "key: every row refused (\"Ignore All\"), rows per second",
         100000, AllRefused},
        {"memory", "and four times as many rows x 6 columns: peak resident memory", 1000000,
         Memory},
        {"value", "row with one large text value (--value-mb): peak resident memory", 1, LargeValue,
         false},
    };
    return cases;
}

}  // namespace trp::bench
