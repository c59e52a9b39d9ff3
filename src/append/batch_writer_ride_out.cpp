// Riding out a lost destination: reconnecting, settling what was in doubt, making good what a
// restarted or failed-over server lost, and going on where the run was.
#include <algorithm>

#include "append/batch_writer.h"
#include "append/reconnection.h"
#include "append/run_failure.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

using Clock = std::chrono::steady_clock;

// The rows a commit stored, of its outcomes.
std::size_t StoredRows(const CommitRecord& record) {
    std::size_t rows = 0;
    for (const SettledOutcome& outcome : record.outcomes)
        if (!outcome.failure) rows += outcome.last - outcome.first;
    return rows;
}

}  // namespace

void BatchWriter::Guarded(const std::function<void()>& step) {
    std::optional<Clock::time_point> lost_at;
    bool resume = false;
    while (true) {
        try {
            if (!resume) {
                step();
                return;
            }
            // Back again: what was in doubt first, then what the server may have lost, then the
            // rest of the batch that was being sent.
            if (!ResolveDoubts()) std::rethrow_exception(loss_);
            ResendKept();
            if (!flushing_) {
                restarted_ = true;
            } else {
                SettleRest();
                FinishFlush();
            }
            listener_.Reconnected(
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - *lost_at),
                tally_.settled + 1);
            loss_ = nullptr;
            return;
        } catch (const AppendStopped&) {
            GiveUpDoubts();
            throw;
        } catch (const WaitAbandoned&) {
            GiveUpDoubts();
            batch_.Clear();
            flushing_ = false;
            throw;
        } catch (...) {
            const std::exception_ptr failure = std::current_exception();
            loss_ = failure;
            if (!Reconnected(failure, lost_at)) {
                batch_.Clear();
                flushing_ = false;
                loss_ = nullptr;
                // The program is ending: it ends where it stands, with nothing more to say.
                if (pacer_.Ending() && LossOf(failure, wrote_) != Loss::None) throw AppendStopped();
                throw;
            }
            resume = true;
        }
    }
}

bool BatchWriter::RodeOut(const std::exception_ptr& failure) {
    std::optional<Clock::time_point> lost_at;
    loss_ = failure;
    if (!Reconnected(failure, lost_at) || !ResolveDoubts()) return false;
    ResendKept();
    listener_.Reconnected(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - *lost_at),
                          tally_.settled + 1);
    loss_ = nullptr;
    return true;
}

bool BatchWriter::Reconnected(const std::exception_ptr& failure,
                              std::optional<Clock::time_point>& lost_at) {
    // Whatever ends the ride-out (the program ending, the source lost, a check that found no
    // answer), a commit still in doubt counts as not checked, never as not made.
    try {
        if (TryToReconnect(failure, lost_at)) return true;
    } catch (...) {
        // The program ending in the middle of the wait, say.
        GiveUpDoubts();
        throw;
    }
    GiveUpDoubts();
    return false;
}

void BatchWriter::GiveUpDoubts() {
    for (const CommitRecord& doubt : doubts_) Unchecked(StoredRows(doubt));
    doubts_.clear();
}

bool BatchWriter::TryToReconnect(const std::exception_ptr& failure,
                                 std::optional<Clock::time_point>& lost_at) {
    const Loss loss = LossOf(failure, wrote_);
    if (!RidesOut() || loss == Loss::None || unchecked_ || pacer_.Ending()) return false;
    if (!lost_at) lost_at = Clock::now();
    // What streamed on the lost connection goes with it.
    Restart();
    pacer_.Unwatch(watched_);
    const bool back =
        Reconnect(destination_, pacer_, *lost_at, *lost_at + reconnect_for_,
                  [this](std::chrono::seconds so_far) { listener_.Reconnecting(so_far); });
    if (!back) return false;  // no time is left to ask after what was in doubt
    watched_ = destination_.Handle();
    if (PQsetnonblocking(watched_, 1) != 0) ThrowConnectionFailure(watched_);
    pacer_.Watch(watched_, destination_.ServerConnectionString());
    const ServerLife life = ServerLife::Read(
        ExecuteAwaited(watched_, std::string("SELECT ") + ServerLife::kColumns, pacer_).get(), 0);
    // An administrator ended this very session while its server went on: someone meant it.
    if (loss == Loss::Terminated && life.started == server_life_.started) {
        ResolveDoubts();
        return false;
    }
    if (!(life == server_life_) && !VerifyCommits(life)) return false;
    server_life_ = life;
    return true;
}

bool BatchWriter::ResolveDoubts() {
    std::vector<CommitRecord> doubts = std::move(doubts_);
    doubts_.clear();
    bool answered = true;
    for (const CommitRecord& doubt : doubts) {
        // A refused row's outcome stands whatever became of the rest.
        CommitStatus status = CommitStatus::Committed;
        if (!doubt.commit.xid.empty())
            status = answered ? CheckCommit(destination_.ConnectionString(), doubt.commit, pacer_,
                                            commit_check_)
                              : CommitStatus::Unknown;
        switch (status) {
            case CommitStatus::Committed:
                if (!doubt.commit.xid.empty()) Committed(doubt);
                HandOnAll(*this, doubt.outcomes);
                break;
            case CommitStatus::Aborted:
                break;  // its rows go again
            case CommitStatus::Unknown:
                Unchecked(StoredRows(doubt));
                answered = false;
                break;
        }
    }
    return answered;
}

bool BatchWriter::VerifyCommits(const ServerLife& life) {
    // The log reaches a server in order: once a commit is found, every one before it is there.
    struct Place {
        std::vector<CommitRecord>* commits;
        std::vector<char>* settled;
    };
    std::vector<Place> places{{&commits_, &settled_}};
    for (auto kept = kept_.rbegin(); kept != kept_.rend(); ++kept)
        places.push_back({&kept->commits, &kept->settled});
    std::vector<std::pair<CommitRecord, std::vector<char>*>> lost;
    bool found = false;
    for (const Place& place : places) {
        for (auto record = place.commits->rbegin(); record != place.commits->rend() && !found;
             ++record) {
            switch (CheckCommit(destination_.ConnectionString(), record->commit, pacer_,
                                commit_check_)) {
                case CommitStatus::Committed:
                    found = true;
                    break;
                case CommitStatus::Aborted:
                    lost.emplace_back(*record, place.settled);
                    break;
                case CommitStatus::Unknown:
                    Unchecked(StoredRows(*record));
                    return false;
            }
        }
        if (found) break;
    }
    if (lost.empty()) return true;
    for (const auto& [record, settled] : lost) Unsettle(record, *settled);
    // Every kept commit lost: older ones may be lost too, and their rows are no longer held.
    if (!found) {
        const long long unsure = tally_.added;
        tally_.added = 0;
        Unchecked(static_cast<std::size_t>(unsure));
        return false;
    }
    server_life_ = life;
    return true;
}

void BatchWriter::ResendKept() {
    // What the server lost goes again in the source's order: the kept batches', then the
    // current one's (once back in the batch being sent).
    for (KeptBatch& kept : kept_) {
        if (std::find(kept.settled.begin(), kept.settled.end(), 0) == kept.settled.end()) continue;
        const auto swap = [&] {
            std::swap(kept.rows, batch_);
            std::swap(kept.settled, settled_);
            std::swap(kept.commits, commits_);
            std::swap(kept.first_row, batch_first_);
        };
        swap();
        try {
            SettleRest();
        } catch (...) {
            swap();
            throw;
        }
        swap();
    }
}

void BatchWriter::Unsettle(const CommitRecord& record, std::vector<char>& settled) {
    // Its refused rows stay as they were reported; the rows it stored count no longer.
    for (const SettledOutcome& outcome : record.outcomes) {
        if (outcome.failure) continue;
        std::fill(settled.begin() + static_cast<std::ptrdiff_t>(outcome.first),
                  settled.begin() + static_cast<std::ptrdiff_t>(outcome.last), 0);
        tally_.settled -= static_cast<long long>(outcome.last - outcome.first);
        tally_.added -= outcome.added;
    }
    listener_.Progressed(tally_);
}

void BatchWriter::SettleRest() {
    BeforeSettling();
    Settlement settlement(destination_, pacer_, table_, PiecesByCopy(), batch_, texts_, *this);
    Settling settling(settlement, refusals_);
    for (std::size_t first = 0; first < settled_.size();) {
        if (settled_[first]) {
            ++first;
            continue;
        }
        std::size_t last = first;
        while (last < settled_.size() && !settled_[last]) ++last;
        settling.RunRange(first, last);
        first = last;
    }
    settlement.Finish();
}

}  // namespace trp
