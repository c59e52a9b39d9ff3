#include "campaign/fault_injector.h"

#include <signal.h>

namespace trp::campaign {
namespace {

// As the kernel's OOM killer or an administrator's kill -9 would: the postmaster goes at once,
// its children end by themselves once they notice, and the rest are killed before the restart.
void KillPostmaster(TemporaryCluster& server) {
    std::vector<int> processes = ServerProcesses(server);
    if (processes.empty()) return;
    ::kill(processes.front(), SIGKILL);
    for (int waited = 0; waited < 40; ++waited) {
        bool alive = false;
        for (std::size_t i = 1; i < processes.size(); ++i)
            alive = alive || ::kill(processes[i], 0) == 0;
        if (!alive) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (std::size_t i = 1; i < processes.size(); ++i) ::kill(processes[i], SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

void Signal(const TemporaryCluster& server, int signal) {
    for (const int pid : ServerProcesses(server)) ::kill(pid, signal);
}

}  // namespace

void TerminateSessions(const TemporaryCluster& server, const std::string& database,
                       const std::string& condition) {
    server.Execute(database, std::string("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                         "WHERE usename = '") +
                                 test::kTestUser + "' AND datname = current_database() " +
                                 condition);
}

FaultInjector::~FaultInjector() {
    if (lock_holder_.joinable()) lock_holder_.join();
}

void FaultInjector::Begin() {
    TemporaryCluster& destination = *scene_.destination_server;
    const auto timed = [&] { end_at_ = Clock::now() + std::chrono::seconds(draw_.fault_seconds); };
    switch (draw_.fault) {
        case Fault::None:
        case Fault::DiskFull:     // in place from the start
        case Fault::BoxLeftOpen:  // the screen's own doing
            break;
        case Fault::BackendTerminated:
            // The writers' sessions; within one database the source's streams on.
            TerminateSessions(destination, kDestinationDatabase,
                              "AND query NOT ILIKE '%TO STDOUT%'");
            break;
        case Fault::RestartFast:
        case Fault::RestartImmediate:
            destination.StopServer(draw_.fault == Fault::RestartFast);
            destination.StartServer();
            break;
        case Fault::PostmasterKilled:
            KillPostmaster(destination);
            destination.StartServer();
            break;
        case Fault::IdsTakenAfterRestart: {
            destination.StopServer();
            destination.StartServer();
            // Other clients take the ids the lost transactions had before the program asks.
            std::string take;
            for (int i = 0; i < 200; ++i) take += "BEGIN; SELECT txid_current(); COMMIT; ";
            destination.Execute("postgres", take);
            break;
        }
        case Fault::LinkCut:
            cut_ = scene_.network->Cut();
            timed();
            break;
        case Fault::CommitHeld:
            timed();
            break;
        case Fault::SlowCommitTrigger:
            // This COMMIT sleeps on; the ones after it need not.
            destination.Execute(kDestinationDatabase, "UPDATE campaign_hold SET seconds = 0");
            break;
        case Fault::LockHeld: {
            const Profile admin = destination.AdminProfile(kDestinationDatabase);
            lock_holder_ = std::thread([admin] {
                try {
                    test::ExecuteWith(admin, std::string("BEGIN; LOCK TABLE ") + kDestinationTable +
                                                 "; SELECT pg_sleep(90); COMMIT");
                } catch (const std::exception&) {
                    // A restart of the server ends the lock early: nothing to hold then.
                }
            });
            break;
        }
        case Fault::SourceLost:
            TerminateSessions(*scene_.source_server, scene_.source_database);
            break;
        case Fault::SourceFrozen:
            Signal(*scene_.source_server, SIGSTOP);
            timed();
            break;
    }
}

void FaultInjector::EndIfDue(Clock::time_point now) {
    if (end_at_ && now >= *end_at_) EndTimed();
}

void FaultInjector::EndTimed() {
    if (!end_at_) return;
    end_at_.reset();
    TemporaryCluster& destination = *scene_.destination_server;
    switch (draw_.fault) {
        case Fault::LinkCut:
            if (cut_) scene_.network->Mend();
            cut_ = false;
            break;
        case Fault::CommitHeld:
            if (draw_.restart_after_hold) {
                destination.StopServer();
                destination.StartServer();
            }
            destination.Execute("postgres", "ALTER SYSTEM RESET synchronous_standby_names");
            destination.Execute("postgres", "SELECT pg_reload_conf()");
            break;
        case Fault::SourceFrozen:
            Signal(*scene_.source_server, SIGCONT);
            break;
        default:
            break;
    }
}

void FaultInjector::End() {
    EndTimed();
    if (lock_holder_.joinable()) lock_holder_.join();
}

}  // namespace trp::campaign
