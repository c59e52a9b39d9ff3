#pragma once

// Injects a run's fault into its scene when the drawn moment comes, and takes it away again:
// timed faults (a cut link, a held commit, a frozen server) when their time is up or the run has
// ended, whichever comes first.
#include <chrono>
#include <optional>
#include <thread>

#include "campaign/draw.h"
#include "campaign/world.h"

namespace trp::campaign {

class FaultInjector {
public:
    using Clock = std::chrono::steady_clock;

    FaultInjector(Scene& scene, const Draw& draw) : scene_(scene), draw_(draw) {}
    ~FaultInjector();

    void Begin();
    // Ends a timed fault whose time is up.
    void EndIfDue(Clock::time_point now);
    // Ends whatever is left of the fault; waits for a held lock's end.
    void End();
    // A cut link still cut: the servers' sessions must go without its help.
    bool LinkStillCut() const { return cut_; }

private:
    void EndTimed();

    Scene& scene_;
    const Draw& draw_;
    std::optional<Clock::time_point> end_at_;
    bool cut_ = false;
    std::thread lock_holder_;
};

// Ends the sessions of the program's role on one database of a server; `condition` narrows them.
void TerminateSessions(const TemporaryCluster& server, const std::string& database,
                       const std::string& condition = {});

}  // namespace trp::campaign
