#include "campaign/draw.h"

#include <random>

namespace trp::campaign {
namespace {

template <typename T, std::size_t N>
T Pick(std::mt19937_64& random, const T (&choices)[N]) {
    return choices[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

int Between(std::mt19937_64& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

bool Possible(const Draw& d) {
    const bool one_database = d.path == Path::OneDatabase;
    switch (d.fault) {
        case Fault::None:
        case Fault::DiskFull:  // full from the start: it strikes when it strikes
            return d.moment == Moment::DuringRows;
        case Fault::CommitHeld:
            return d.moment == Moment::InsideCommit;
        case Fault::SlowCommitTrigger:
            // A trigger of the user's sends the rows by INSERT statements.
            return d.moment == Moment::InsideCommit && d.path == Path::Inserts;
        case Fault::LinkCut:
            // Only a server in a network namespace of its own can lose its link, and behind a
            // pooler the link that matters is the pooler's.
            return d.route == Route::Direct && d.server == 15 && d.moment != Moment::InsideCommit;
        case Fault::SourceLost:
            // Within one database from 14 on no session of the source streams rows.
            return !one_database && d.moment != Moment::InsideCommit;
        default:
            return d.moment != Moment::InsideCommit;
    }
}

// What only a screen has: a report box answered "Stop Appending", or left open for minutes (both
// need a refused row). Signals end a screen as they end the command, which the runs of the
// command cover; a server that stays down would keep the screen waiting its full five minutes.
void ThroughScreens(Draw& d) {
    std::mt19937_64 random(d.seed ^ 0x5c4ee45a11ULL);
    d.screens = true;
    d.reconnect_for = 300;
    d.ending = Ending::None;
    if (d.fault == Fault::PostmasterKilled) d.fault = Fault::RestartImmediate;
    if (!d.refused) return;
    switch (Between(random, 0, 3)) {
        case 0:
            d.ending = Ending::StopOnReport;
            break;
        case 1:
            d.fault = Fault::BoxLeftOpen;
            d.moment = Moment::DuringRows;
            d.fault_seconds = Between(random, 120, 360);
            break;
        default:
            break;
    }
}

}  // namespace

Draw DrawRun(std::uint64_t seed) {
    std::mt19937_64 random(seed);
    static constexpr Path kPaths[] = {Path::BinaryCopy, Path::TextCopy, Path::Inserts,
                                      Path::OneDatabase};
    static constexpr Route kRoutes[] = {Route::Direct, Route::PoolerTransaction,
                                        Route::PoolerSession};
    static constexpr int kServers[] = {15, 15, 10, 18};
    static constexpr Fault kQuickFaults[] = {Fault::None,
                                             Fault::BackendTerminated,
                                             Fault::RestartFast,
                                             Fault::RestartImmediate,
                                             Fault::PostmasterKilled,
                                             Fault::LinkCut,
                                             Fault::CommitHeld,
                                             Fault::SlowCommitTrigger,
                                             Fault::IdsTakenAfterRestart,
                                             Fault::SourceLost,
                                             Fault::SourceFrozen,
                                             Fault::DiskFull};
    static constexpr Fault kSlowFaults[] = {Fault::LockHeld, Fault::LinkCut, Fault::SourceFrozen};
    static constexpr Moment kMoments[] = {Moment::BeforeRows, Moment::DuringRows,
                                          Moment::InsideCommit, Moment::BetweenBatches};
    static constexpr Ending kEndings[] = {Ending::None, Ending::None, Ending::Sigterm,
                                          Ending::Sigint};
    static constexpr int kRows[] = {50000, 100000, 200000};
    while (true) {
        Draw d;
        d.seed = seed;
        d.path = Pick(random, kPaths);
        d.route = Pick(random, kRoutes);
        d.server = Pick(random, kServers);
        const bool slow = Between(random, 1, 10) == 1;
        d.fault = slow ? Pick(random, kSlowFaults) : Pick(random, kQuickFaults);
        d.moment = Pick(random, kMoments);
        d.ending = Pick(random, kEndings);
        d.refused = Between(random, 0, 1) == 1;
        d.rows = Pick(random, kRows);
        d.reconnect_for = Between(random, 0, 2) == 0 ? 0 : 60;
        d.fault_seconds = slow ? Between(random, 70, 100) : Between(random, 1, 8);
        d.restart_after_hold = Between(random, 0, 1) == 1;
        d.signal_delay_ms = Between(random, 0, 3000);
        if (d.fault == Fault::LockHeld) d.fault_seconds = 90;
        // A held or slow COMMIT is one moment only; a user's trigger sends rows by INSERT.
        if (d.fault == Fault::CommitHeld || d.fault == Fault::SlowCommitTrigger)
            d.moment = Moment::InsideCommit;
        if (d.fault == Fault::SlowCommitTrigger) d.path = Path::Inserts;
        if (!Possible(d)) continue;
        if (seed % 8 == 0) ThroughScreens(d);
        // From a generator of its own, so that every earlier seed keeps its run.
        std::mt19937_64 together(seed ^ 0x7e11ab1eULL);
        if (d.refused && Between(together, 0, 2) == 0) d.refused_together = 10;
        static constexpr int kWriters[] = {1, 2, 4};
        std::mt19937_64 writers(seed ^ 0x3717e25ULL);
        if (!d.screens) d.writers = Pick(writers, kWriters);
        // A link cut while a COMMIT's answer is on its way leaves the server's session idle
        // until the server's own TCP gives up, long after the link is back: the moment inside a
        // COMMIT is not drawn for a cut link, and with several writers a batch is always in
        // flight.
        if (d.fault == Fault::LinkCut) d.writers = 1;
        std::mt19937_64 keyed(seed ^ 0x6b3e7edULL);
        d.keyed = Between(keyed, 0, 1) == 1;
        // Two source sessions read the table in parts, each ahead of its turn.
        std::mt19937_64 readers(seed ^ 0x5eade75ULL);
        if (!d.screens && Between(readers, 0, 1) == 1) d.readers = 2;
        return d;
    }
}

std::string NameOf(Path path) {
    static const char* const kNames[] = {"binary COPY", "text COPY", "INSERT", "one database"};
    return kNames[static_cast<int>(path)];
}

std::string NameOf(Route route) {
    static const char* const kNames[] = {"direct", "pooler (transaction)", "pooler (session)"};
    return kNames[static_cast<int>(route)];
}

std::string NameOf(Fault fault) {
    static const char* const kNames[] = {"none",
                                         "backend terminated",
                                         "restart fast",
                                         "restart immediate",
                                         "postmaster killed",
                                         "link cut",
                                         "commit held",
                                         "slow commit trigger",
                                         "lock held 90 s",
                                         "ids taken after restart",
                                         "source lost",
                                         "source frozen",
                                         "disk full",
                                         "report box left open"};
    return kNames[static_cast<int>(fault)];
}

std::string NameOf(Moment moment) {
    static const char* const kNames[] = {"before the rows", "during the rows", "inside a COMMIT",
                                         "between batches"};
    return kNames[static_cast<int>(moment)];
}

std::string NameOf(Ending ending) {
    static const char* const kNames[] = {"none", "SIGTERM", "SIGINT", "Stop on a report"};
    return kNames[static_cast<int>(ending)];
}

std::string RefusedRows(const Draw& d) {
    if (!d.refused) return "none";
    return d.refused_together == 1 ? "1 in 1,000"
                                   : std::to_string(d.refused_together) + " in a row in 1,000";
}

std::string Describe(const Draw& d) {
    std::string text = "seed " + std::to_string(d.seed) + ": " +
                       (d.screens ? "through the screens, " : "") + NameOf(d.path) + ", " +
                       NameOf(d.route) + ", PostgreSQL " + std::to_string(d.server) + ", " +
                       NameOf(d.fault);
    if (d.fault != Fault::None) {
        text += " " + NameOf(d.moment);
        if (d.fault == Fault::CommitHeld || d.fault == Fault::LinkCut ||
            d.fault == Fault::SourceFrozen || d.fault == Fault::SlowCommitTrigger ||
            d.fault == Fault::BoxLeftOpen)
            text += " for " + std::to_string(d.fault_seconds) + " s";
        if (d.fault == Fault::CommitHeld && d.restart_after_hold) text += " then a restart";
    }
    text += ", ending " + NameOf(d.ending);
    if (d.ending == Ending::Sigterm || d.ending == Ending::Sigint)
        text += " after " + std::to_string(d.signal_delay_ms) + " ms";
    text += ", " + std::to_string(d.rows) + " rows";
    if (d.keyed) text += " into a unique key";
    if (d.refused) text += " (" + RefusedRows(d) + " refused)";
    text += d.screens ? ", the screen's ride-out of 300 s"
                      : ", --reconnect-for " + std::to_string(d.reconnect_for) + ", --writers " +
                            std::to_string(d.writers) +
                            (d.readers > 0 ? ", --readers " + std::to_string(d.readers) : "");
    return text;
}

}  // namespace trp::campaign
