// The fault campaign: runs drawn from consecutive seeds, each checked, with a line per run and
// a table by dimension at the end.
//
//     campaign_runner --program PATH --runs N --seed S
//     campaign_runner --dry-run --runs N --seed S     (the draws only)
//
// Exits 1 when any run broke a promise; each such run is printed with the command that replays
// it alone.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "app/temporary_cluster.h"
#include "campaign/run.h"
#include "support/pg_fixture.h"
#include "support/test_progress.h"

namespace {

using namespace trp::campaign;

// Ctrl-C or SIGTERM ends the campaign after the run under way, so that its servers and poolers
// go with it rather than being left running.
volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) {
    stop_requested = 1;
}

struct Tally {
    int runs = 0;
    int violated = 0;
};

// Runs and violated runs by each dimension's value.
class Summary {
public:
    void Add(const Draw& d, bool violated) {
        for (const auto& [dimension, value] :
             {std::pair<std::string, std::string>{"program",
                                                  d.screens ? "the screens" : "append command"},
              {"path", NameOf(d.path)},
              {"route", NameOf(d.route)},
              {"server", "PostgreSQL " + std::to_string(d.server)},
              {"fault", NameOf(d.fault)},
              {"moment", d.fault == Fault::None ? "-" : NameOf(d.moment)},
              {"ending", NameOf(d.ending)},
              {"refused rows", RefusedRows(d)},
              {"reconnect for", std::to_string(d.reconnect_for) + " s"},
              {"writers", std::to_string(d.writers)},
              {"source sessions", d.readers > 0 ? std::to_string(d.readers) : "as the run finds"},
              {"destination", d.keyed ? "unique key" : "no key"}}) {
            Tally& tally = table_[dimension][value];
            ++tally.runs;
            tally.violated += violated ? 1 : 0;
        }
    }
    void Print() const {
        std::printf("\n%-16s %-26s %6s %9s\n", "dimension", "value", "runs", "violated");
        for (const auto& [dimension, values] : table_)
            for (const auto& [value, tally] : values)
                std::printf("%-16s %-26s %6d %9d\n", dimension.c_str(), value.c_str(), tally.runs,
                            tally.violated);
    }

private:
    std::map<std::string, std::map<std::string, Tally>> table_;
};

}  // namespace

int main(int argc, char** argv) {
    trp::IgnoreUsersEncryptionSettings();
    QTemporaryDir state;
    setenv("XDG_STATE_HOME", state.path().toLocal8Bit().constData(), 1);
    QCoreApplication app(argc, argv);
    std::string program;
    long long runs = 10;
    unsigned long long first_seed = 1;
    bool dry_run = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--dry-run") dry_run = true;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--dry-run") {
            --i;
            continue;
        }
        if (option == "--program")
            program = argv[i + 1];
        else if (option == "--runs")
            runs = std::stoll(argv[i + 1]);
        else if (option == "--seed")
            first_seed = std::stoull(argv[i + 1]);
    }
    if (dry_run) {
        // The draws alone, to find a seed worth replaying.
        for (long long i = 0; i < runs; ++i)
            std::printf("%s\n",
                        Describe(DrawRun(first_seed + static_cast<unsigned long long>(i))).c_str());
        return 0;
    }
    if (program.empty()) {
        std::fprintf(stderr, "usage: %s --program PATH [--runs N] [--seed S]\n", argv[0]);
        return 2;
    }
    FILE* progress = nullptr;
    if (const char* file = std::getenv(trp::test::kProgressVariable); file && *file)
        progress = std::fopen(file, "a");
    World world;
    Summary summary;
    int violated = 0;
    int skipped = 0;
    int missed = 0;
    double seconds = 0;
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    long long done = 0;
    for (long long i = 0; i < runs && !stop_requested; ++i, ++done) {
        const Draw draw = DrawRun(first_seed + static_cast<unsigned long long>(i));
        std::printf("[%lld/%lld] %s\n", i + 1, runs, Describe(draw).c_str());
        std::fflush(stdout);
        // scripts/test.sh shows these lines while ctest keeps the output to itself.
        if (progress)
            std::fprintf(progress, "campaign [%lld/%lld] %s\n", i + 1, runs,
                         Describe(draw).c_str()),
                std::fflush(progress);
        if (const std::string missing = World::Missing(draw); !missing.empty()) {
            std::printf("    skipped: %s\n", missing.c_str());
            ++skipped;
            continue;
        }
        RunResult result;
        try {
            result = RunOnce(world, draw, program);
        } catch (const std::exception& failure) {
            result.violations.push_back(std::string("the campaign itself failed: ") +
                                        failure.what());
        }
        seconds += result.seconds;
        missed += draw.fault != Fault::None && !result.fault_injected ? 1 : 0;
        summary.Add(draw, !result.violations.empty());
        std::printf("    %s, status %d, %.1f s%s\n", result.last_message.c_str(), result.exit_code,
                    result.seconds,
                    draw.fault != Fault::None && !result.fault_injected
                        ? " (ended before the moment came)"
                        : "");
        if (!result.violations.empty()) {
            ++violated;
            for (const std::string& text : result.violations)
                std::printf("    VIOLATION %s\n", text.c_str());
            std::printf("    replay: scripts/campaign.sh --runs 1 --seed %llu\n",
                        static_cast<unsigned long long>(draw.seed));
        }
        std::fflush(stdout);
    }
    summary.Print();
    std::printf(
        "\n%lld runs from seed %llu: %d violated, %d skipped, %d ended before their "
        "fault's moment; %.0f s in the program\n",
        done, first_seed, violated, skipped, missed, seconds);
    if (progress) std::fclose(progress);
    return violated > 0 ? 1 : 0;
}
