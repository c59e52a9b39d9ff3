#pragma once

// One run of the fault campaign, drawn from a seed: which path the rows take, which route leads
// to the destination, which server, which fault at which moment, how the run is ended. The same
// seed always gives the same draw, so a run can be replayed from its seed alone.
#include <cstdint>
#include <string>
#include <vector>

namespace trp::campaign {

enum class Path { BinaryCopy, TextCopy, Inserts, OneDatabase };
enum class Route { Direct, PoolerTransaction, PoolerSession };
enum class Fault {
    None,
    BackendTerminated,
    RestartFast,
    RestartImmediate,
    PostmasterKilled,
    LinkCut,
    CommitHeld,  // a synchronous standby that is missing, then lifted or a restart
    SlowCommitTrigger,
    LockHeld,  // another session locks the destination table for 90 s
    IdsTakenAfterRestart,
    SourceLost,
    SourceFrozen,
    DiskFull,     // the destination table's tablespace is a small tmpfs
    BoxLeftOpen,  // through the screens: the first refused row's report stays open for minutes
};
enum class Moment { BeforeRows, DuringRows, InsideCommit, BetweenBatches };
enum class Ending {
    None,
    Sigterm,
    Sigint,
    StopOnReport,  // through the screens: "Stop Appending" on the first refused row's report
};

struct Draw {
    std::uint64_t seed = 0;
    Path path = Path::BinaryCopy;
    Route route = Route::Direct;
    int server = 15;  // the destination's major version
    Fault fault = Fault::None;
    Moment moment = Moment::DuringRows;
    Ending ending = Ending::None;
    bool refused = false;  // one source row in 1,000 the destination refuses
    // Where rows are refused, how many in a row (1 or 10) in every 1,000: ten in a row settle one
    // by one.
    int refused_together = 1;
    int rows = 20000;
    int reconnect_for = 0;  // the command's --reconnect-for
    int writers = 2;        // the command's --writers; the screens use the default
    int readers = 0;        // the command's --readers (0: not given, as on the screens)
    // The destination has a unique index on the ids: several writers then commit in order, and
    // a row sent twice is refused rather than stored twice.
    bool keyed = false;
    int fault_seconds = 0;  // how long a held commit, a cut link or a frozen server lasts
    bool restart_after_hold = false;
    int signal_delay_ms = 0;  // from the fault's start to the signal
    // Through the screens rather than the `append` command: every eighth seed. The screen
    // rides out a lost destination for its own five minutes.
    bool screens = false;
};

// The run of `seed`. Draws that cannot happen (a commit held before any row was sent, a link cut
// behind a pooler) are drawn again from the same generator. A run through the screens is the
// command's draw with what only a screen has drawn on top from a generator of its own, so that
// every other seed keeps its run.
Draw DrawRun(std::uint64_t seed);

std::string NameOf(Path path);
std::string NameOf(Route route);
std::string NameOf(Fault fault);
std::string NameOf(Moment moment);
std::string NameOf(Ending ending);
// The refused rows: "none", "1 in 1,000" or "10 in a row in 1,000".
std::string RefusedRows(const Draw& draw);
// Every dimension of a run in one line.
std::string Describe(const Draw& draw);

}  // namespace trp::campaign
