#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <vector>

namespace trp {

// One attempt at some of a failed batch's rows, as the destination answered it.
struct PieceResult {
    bool stored = false;                    // every row of it went in
    std::optional<std::size_t> failed_row;  // the row the failure names, where it names one
    std::exception_ptr failure;             // the first failure (nullptr when stored)
    long long added = 0;                    // the rows the destination took
    // The failure is in the very words the row's own INSERT statement gets: the row need not
    // go again alone for its report.
    bool failure_is_the_rows = false;
};

// What settling a failed batch asks of the destination, and tells of the rows' outcomes.
class SettlingTarget {
public:
    virtual ~SettlingTarget() = default;
    // Rows [first, last) as one piece: kept when every one went in, undone otherwise.
    virtual PieceResult Piece(std::size_t first, std::size_t last) = 0;
    // One row alone, as its own INSERT statement: its failure is the row's report.
    virtual PieceResult Alone(std::size_t row) = 0;
    // Rows from `first` on, each as its own INSERT statement: one result for each of the rows
    // it sent, at least one and at most up to `last`. A failure that may be the run's comes
    // last: nothing after it went in.
    virtual std::vector<PieceResult> OneByOne(std::size_t first, std::size_t last) = 0;

    // The outcomes, in source order.
    virtual void Stored(std::size_t first, std::size_t last, long long added) = 0;
    virtual void Refused(std::size_t row, const std::exception_ptr& failure) = 0;

    // Throws the failure when it is no row's but the whole run's.
    virtual void ThrowIfRunEnds(const std::exception_ptr& failure) = 0;
    // A point where the settling may end (the program is ending): throws there.
    virtual void StopPoint() = 0;
};

// How far apart refused rows have come, across the batches of a run.
struct RefusalPattern {
    std::size_t gap = 0;    // rows between the last two refused rows (0: none yet)
    long long refused = 0;  // rows refused so far
};

// Settles the rows of a batch whose first attempt failed, so that every row gets the very
// outcome of its own INSERT statement, in source order: where the failure names the row, the
// rows before it go again as one piece and it goes alone (unless its failure already is in its
// INSERT's words), and the rows after it go in pieces that start small and grow while no row is
// refused; where nothing names the row, the rows are halved down to single rows. Where refused
// rows come one after the other, the rows after them go one by one, many in one round trip.
class Settling {
public:
    // Rows that go one by one at a time while refusals come close together; the first piece
    // after a refused row at least.
    static constexpr std::size_t kOneByOneRows = 256;
    static constexpr std::size_t kFirstPiece = 64;

    Settling(SettlingTarget& target, RefusalPattern& pattern)
        : target_(target), pattern_(pattern) {}

    // Rows [0, rows) failed as `first_try` says.
    void Run(std::size_t rows, const PieceResult& first_try);
    // Rows [first, last), of which nothing has been tried yet.
    void RunRange(std::size_t first, std::size_t last) { Settle(first, last); }
    // The same where refused rows are expected among them: in pieces from the start.
    void RunInPieces(std::size_t first, std::size_t last) { AfterRefusal(first, last); }

private:
    void Resolve(std::size_t first, std::size_t last, const PieceResult& result);
    void Settle(std::size_t first, std::size_t last);
    void SettleHalves(std::size_t first, std::size_t last);
    // Rows [from, last) after a refused row.
    void AfterRefusal(std::size_t from, std::size_t last);
    void OneByOne(std::size_t first, std::size_t last);
    void Single(std::size_t row);
    // The row failed as `result` says: refused, or gone again alone for its report.
    void Failed(std::size_t row, const PieceResult& result);
    void Refused(std::size_t row, const std::exception_ptr& failure);
    std::size_t PieceAfterRefusal() const;

    SettlingTarget& target_;
    RefusalPattern& pattern_;
    std::size_t last_refused_ = 0;  // the row refused last, plus one (0: none yet)
    bool close_refusals_ = false;   // refused rows came one after the other
};

}  // namespace trp
