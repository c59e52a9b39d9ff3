#include "append/writer_team.h"

#include <algorithm>

#include "append/run_failure.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {

WriterTeam::WriterTeam(EventPacer& pacer, WriterListener& listener, bool in_order)
    : pacer_(pacer), listener_(listener), in_order_(in_order) {}

WriterTeam::~WriterTeam() {
    pacer_.RemoveSideWork(this);
}

void WriterTeam::Join(std::unique_ptr<Connection> session,
                      const std::function<std::unique_ptr<CopyWriter>(Connection&)>& make) {
    Connection& connection = *session;
    sessions_.push_back(std::move(session));
    Join(make(connection));
}

void WriterTeam::Join(std::unique_ptr<CopyWriter> writer) {
    const std::size_t index = writers_.size();
    writer->JoinTeam([this, index] { BeforeSettling(index); });
    writers_.push_back(std::move(writer));
    in_flight_.push_back(0);
    pacer_.AddSideWork(this);
}

void WriterTeam::Add(std::string_view line, const RowLocator& at) {
    Run([&] { writers_[current_]->Add(line, at); });
    ++rows_;
    if (writers_[current_]->BatchComplete()) NextWriter();
}

void WriterTeam::AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) {
    // A batch of its own, sent at once.
    if (in_order_) Run([&] { EndAll(); });
    Run([&] { writers_[current_]->AddLarge(std::move(buffer), row, at); });
    ++rows_;
}

void WriterTeam::NextWriter() {
    if (!writers_[current_]->EndsOpen())
        in_flight_[current_] = 1;
    else if (in_order_)
        Run([&] { EndAll(); });
    else
        Run([&] { writers_[current_]->Finish(); });
    current_ = (current_ + 1) % writers_.size();
    CopyWriter& next = *writers_[current_];
    if (in_flight_[current_]) {
        in_flight_[current_] = 0;
        Run([&] { End(current_, [&] { next.Finish(); }); });
    }
    next.TakesAfter(rows_);
}

void WriterTeam::Finish() {
    Run([&] {
        if (in_order_) return EndAll();
        EndOthers(current_);
        writers_[current_]->Finish();
    });
}

void WriterTeam::EndAll() {
    in_flight_[current_] = 1;
    EndOthers(kNone);
}

void WriterTeam::End(std::size_t writer, const std::function<void()>& end) {
    const Clock::time_point since = Clock::now();
    const std::size_t outer = std::exchange(ending_, writer);
    ending_since_ = since;
    withdrew_ = false;
    struct Restore {
        std::size_t& ending;
        std::size_t outer;
        ~Restore() { ending = outer; }
    } restore{ending_, outer};
    end();
    if (!withdrew_)
        stall_after_ =
            std::clamp<Clock::duration>(4 * (Clock::now() - since), kStallAtLeast, kStallAtMost);
}

void WriterTeam::BeforeSettling(std::size_t writer) {
    if (in_order_)
        WithdrawOthers(writer);
    else
        EndOthers(writer);
}

void WriterTeam::WithdrawOthers(std::size_t except) {
    for (std::size_t writer = 0; writer < writers_.size(); ++writer) {
        if (writer != except && in_flight_[writer] && writers_[writer]->Withdraw())
            withdrew_ = true;
    }
}

void WriterTeam::FinishInFlight() {
    // In order, the batch being taken may hold keys the earlier ones wait for.
    if (in_order_) in_flight_[current_] = 1;
    try {
        for (std::size_t i = 1; i <= writers_.size(); ++i) {
            const std::size_t writer = (current_ + i) % writers_.size();
            in_flight_[writer] = 0;
            if (writers_[writer]->Withdrawn())
                writers_[writer]->DropWithdrawn();
            else
                End(writer, [&] { writers_[writer]->FinishInFlight(); });
        }
    } catch (const WaitAbandoned&) {
        Abandon();
        Sum();
        throw;
    }
    Sum();
}

std::size_t WriterTeam::MoveInsideServer(std::size_t first, std::size_t count,
                                         const std::function<std::string(std::size_t)>& select,
                                         const std::string& snapshot) {
    Finish();
    CopyWriter& mover = *writers_.front();
    const long long before = mover.Tally().settled;
    std::size_t next = first;
    Run([&] { next = mover.MoveInsideServer(first, count, select, snapshot); });
    // The rows that moved come before the next ones taken.
    rows_ += mover.Tally().settled - before;
    writers_[current_]->TakesAfter(rows_);
    return next;
}

void WriterTeam::Run(const std::function<void()>& step) {
    try {
        step();
    } catch (const WaitAbandoned&) {
        Abandon();
        Sum();
        throw;
    } catch (const AppendStopped&) {
        // A program that is ending commits what is in flight as it stands (FinishInFlight).
        if (!pacer_.Ending()) EndOthers(kNone, false);
        failure_ = nullptr;
        Sum();
        throw;
    } catch (...) {
        for (const auto& writer : writers_) writer->GiveUpRidingOut();
        EndOthers(kNone, false);
        failure_ = nullptr;
        Sum();
        throw;
    }
    Sum();
    if (failure_) {
        for (const auto& writer : writers_) writer->GiveUpRidingOut();
        EndOthers(kNone, false);
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
}

void WriterTeam::EndOthers(std::size_t except, bool run_goes_on) {
    for (std::size_t i = 1; i <= writers_.size(); ++i) {
        const std::size_t writer = (current_ + i) % writers_.size();
        if (writer == except || !in_flight_[writer]) continue;
        in_flight_[writer] = 0;
        try {
            // Once the run ends, a batch that gave way is not sent again.
            if (run_goes_on || !writers_[writer]->Withdrawn())
                End(writer, [&] { writers_[writer]->Finish(); });
            else
                writers_[writer]->DropWithdrawn();
        } catch (const WaitAbandoned&) {
            throw;
        } catch (...) {
            if (!failure_) failure_ = std::current_exception();
        }
    }
}

void WriterTeam::Abandon() {
    for (std::size_t writer = 0; writer < writers_.size(); ++writer)
        if (in_flight_[writer]) writers_[writer]->Abandon();
}

void WriterTeam::Reconnecting(std::chrono::seconds so_far) {
    if (!telling_ && std::chrono::steady_clock::now() < quiet_until_) return;
    telling_ = true;
    listener_.Reconnecting(so_far);
}

void WriterTeam::Reconnected(std::chrono::seconds took, long long /*next_row*/) {
    if (!telling_) return;
    telling_ = false;
    quiet_until_ = std::chrono::steady_clock::now() + kOneLoss;
    listener_.Reconnected(took, 0);
}

void WriterTeam::Progressed(const AppendTally& /*tally*/) {
    Sum();
    listener_.Progressed(tally_);
}

void WriterTeam::Sum() {
    AppendTally sum;
    for (const auto& writer : writers_) {
        sum.settled += writer->Tally().settled;
        sum.added += writer->Tally().added;
        sum.unchecked += writer->Tally().unchecked;
    }
    tally_ = sum;
}

void WriterTeam::Sockets(std::vector<pollfd>& sockets) {
    for (std::size_t writer = 0; writer < writers_.size(); ++writer) {
        pollfd socket{};
        if (in_flight_[writer] && writers_[writer]->PumpSocket(socket)) sockets.push_back(socket);
    }
}

void WriterTeam::Step() {
    // Oldest first; in order, only the oldest batch may end, and none while an earlier one is
    // being brought to its outcome.
    bool may_end = !in_order_ || ending_ == kNone;
    for (std::size_t i = 1; i <= writers_.size(); ++i) {
        const std::size_t writer = (current_ + i) % writers_.size();
        if (!in_flight_[writer]) continue;
        writers_[writer]->Pump(may_end);
        may_end = !in_order_;
    }
    if (in_order_ && ending_ != kNone && Clock::now() - ending_since_ >= stall_after_)
        WithdrawOthers(ending_);
}

}  // namespace trp
