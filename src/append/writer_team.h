#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "append/copy_writer.h"
#include "catalogue/event_pacer.h"

namespace trp {

// Several COPY writers for one run, each with a session of its own, taking whole batches in
// turn. While one writer's batch is read from the source and streamed, the batches before it go
// on being sent and committed by the others' sessions in every wait of the program (SideWork),
// so that the destination works on several batches at once. A writer takes its next batch only
// once its last one has reached its outcome, so the batches in flight, and the memory they
// hold, are as many as the writers.
//
// What the user sees stays that of one writer: every row keeps its source number, the tally is
// the sum of the writers', and a batch with refused rows is settled only once every other batch
// in flight has ended, so that no COPY stays open while a report waits for the user (the
// reports may then come in another order than the rows). Whatever ends the run first brings
// the other batches in flight to their outcome, so that what they committed counts.
//
// Into a table with a unique key (`in_order`) a later batch must not take a key before an
// earlier one: the batches commit in the source's order, each one's data ended only once every
// earlier one has committed. An earlier batch may then wait for a key a later one holds
// uncommitted, while the later one waits for its turn: an earlier batch that takes
// unusually long gives the later ones up (rolled back, sent again whole in their turn), and a
// batch with refused rows does so before they are settled.
class WriterTeam : public DestinationWriter, public WriterListener, public SideWork {
public:
    WriterTeam(EventPacer& pacer, WriterListener& listener, bool in_order);
    ~WriterTeam() override;

    // Writers join in turn; `session` is the writer's own, held for as long as the team.
    void Join(std::unique_ptr<Connection> session,
              const std::function<std::unique_ptr<CopyWriter>(Connection&)>& make);
    void Join(std::unique_ptr<CopyWriter> writer);
    std::size_t Size() const { return writers_.size(); }

    void Add(std::string_view line, const RowLocator& at) override;
    void AddLarge(PqBuffer buffer, std::string_view row, const RowLocator& at) override;
    void Finish() override;
    void FinishInFlight() override;
    bool TakesBinaryRows() const override { return writers_.front()->TakesBinaryRows(); }
    AppendPath Path() const override { return writers_.front()->Path(); }
    bool CanMoveInsideServer(const ColumnTypes& source_columns) const override {
        return writers_.front()->CanMoveInsideServer(source_columns);
    }
    std::size_t MoveInsideServer(std::size_t first, std::size_t count,
                                 const std::function<std::string(std::size_t)>& select,
                                 const std::string& snapshot) override;

    bool RowRefused(const RefusedRow& row) override { return listener_.RowRefused(row); }
    bool ReportsMayWait() const override { return listener_.ReportsMayWait(); }
    void Progressed(const AppendTally& tally) override;
    // One loss of the destination is told once, though each writer finds it and reconnects on
    // its own: the others' within kOneLoss of the first's return go untold. The run goes on
    // without a row, each writer where it was.
    void Reconnecting(std::chrono::seconds so_far) override;
    void Reconnected(std::chrono::seconds took, long long next_row) override;

    void Sockets(std::vector<pollfd>& sockets) override;
    void Step() override;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kOneLoss{10};
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // How long an earlier batch may take to reach its outcome before the later ones give way:
    // four times what the last one took, within these bounds. A later batch that gives way
    // goes again whole, so a server's pause (a checkpoint, a slow disk) must not look like it.
    static constexpr std::chrono::milliseconds kStallAtLeast{1000};
    static constexpr std::chrono::milliseconds kStallAtMost{10000};

    // Runs `step` of the current writer; whatever leaves it first brings the batches in flight
    // to their outcome (but for a program past its grace).
    void Run(const std::function<void()>& step);
    // The batch just taken is complete: it goes on in flight, and the next writer takes the rows.
    void NextWriter();
    // Brings every batch in flight but `except`'s to its outcome, oldest first; the first
    // failure is kept for the team to throw once `except` is done. Where the run does not go
    // on, the batches that gave way are dropped.
    void EndOthers(std::size_t except, bool run_goes_on = true);
    // In order: every batch, the one being taken last.
    void EndAll();
    // `end` brings `writer`'s batch to its outcome; meanwhile the later ones may give way.
    void End(std::size_t writer, const std::function<void()>& end);
    // A batch is about to settle refused rows.
    void BeforeSettling(std::size_t writer);
    void WithdrawOthers(std::size_t except);
    void Abandon();
    void Sum();

    EventPacer& pacer_;
    WriterListener& listener_;
    std::vector<std::unique_ptr<Connection>> sessions_;
    std::vector<std::unique_ptr<CopyWriter>> writers_;  // destroyed before their sessions
    std::vector<char> in_flight_;                       // each writer's: a batch held complete
    std::size_t current_ = 0;                           // the writer taking the rows
    long long rows_ = 0;                                // the source's rows handed on so far
    std::exception_ptr failure_;  // another writer's, while one settled its refused rows
    bool telling_ = false;        // a writer's reconnection is being told
    std::chrono::steady_clock::time_point quiet_until_;
    const bool in_order_;
    std::size_t ending_ = kNone;  // the writer whose batch is being brought to its outcome
    Clock::time_point ending_since_;
    Clock::duration stall_after_ = kStallAtLeast;
    bool withdrew_ = false;  // later batches gave way while it was
};

}  // namespace trp
