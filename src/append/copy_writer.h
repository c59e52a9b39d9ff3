#pragma once

#include <poll.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "append/batch_writer.h"
#include "append/skipped_copy_rows.h"

namespace trp {

// Loads batches with COPY FROM STDIN, each COPY in a transaction of its own that one query
// opens and, once the data has ended, commits: the transaction's opening, then
// "COPY … FROM STDIN; COMMIT". The first attempt of a batch streams its rows while they are
// still being read from the source.
class CopyWriter : public BatchWriter {
public:
    CopyWriter(Connection& destination, DestinationTable table, const AppendOptions& options,
               EventPacer& pacer, WriterListener& listener, SourceRowTexts* texts);
    ~CopyWriter() override;

    AppendPath Path() const override {
        return table_.binary ? AppendPath::BinaryCopy : AppendPath::TextCopy;
    }
    bool CanMoveInsideServer(const ColumnTypes& source_columns) const override;
    std::size_t MoveInsideServer(std::size_t first, std::size_t count,
                                 const std::function<std::string(std::size_t)>& select,
                                 const std::string& snapshot) override;

    // As a team's writer whose batch is held complete (BatchWriter::JoinTeam): sends what the
    // connection takes of the rest of the batch, then, where `may_end`, the end of its data
    // (which commits), and takes in what comes back, all without waiting. A failure is left for
    // the batch's sending to find.
    void Pump(bool may_end);
    // Gives up the held batch's open COPY, which rolls it back: its rows may hold keys an earlier
    // batch waits for. The batch goes again, whole, when it is sent. False when it had no open
    // COPY to give up.
    bool Withdraw();
    bool Withdrawn() const { return withdrawn_; }
    // The run ends without the batch that gave way: what its COPY answers is taken in, and its
    // rows, which have no outcome, are let go.
    void DropWithdrawn();
    // The socket Pump waits for and what for; false when it has nothing to do.
    bool PumpSocket(pollfd& socket) const;
    // Whether the held batch's transaction stays open once its data has ended (its COMMIT
    // waits for the rows a skipping COPY left out): such a batch is not left in flight.
    bool EndsOpen() const { return skipped_.has_value(); }
    // The program ends without waiting for the held batch: a COMMIT already on its way leaves
    // its rows not checked.
    void Abandon();

protected:
    void RowAdded() override;
    Outcome SendBatch() override;
    bool PiecesByCopy() const override { return true; }
    void Restart() override;

private:
    // A chunk inside the server on its way: its INSERT … SELECT sent on `session`, its COMMIT
    // not yet.
    struct ChunkUnderWay {
        std::size_t chunk = 0;
        Connection* session = nullptr;
        std::unique_ptr<BatchTransaction> transaction;
        std::exception_ptr failure;  // the sending's
    };
    ChunkUnderWay StartChunk(Connection& session, std::size_t chunk, const std::string& select,
                             const std::string& snapshot);
    // Awaits the chunk's INSERT and commits it: false, with nothing of it kept, when the
    // destination refused one of its rows. `doubt` is what is known of its commit when the
    // connection goes down with the COMMIT under way and the run rides that out.
    bool EndChunk(ChunkUnderWay& chunk, std::optional<CommitRecord>& doubt);
    // Chunks begun after one that did not commit: each is rolled back once its INSERT is over (a
    // session left running could hold keys the next rows wait for); after a failure of the run
    // or of a connection their sessions are closed, which ends them.
    void DropChunks(std::deque<ChunkUnderWay>& chunks, bool closing);
    // Sessions of their own for the chunks, as many as the run's writers, where there are
    // several: those the server does not grant (its or the role's connection limit, a
    // pooler's pool) are left out, and with fewer than two the chunks go one after the other on
    // the writer's own session.
    void OpenChunkSessions();
    void CloseChunkSession(Connection& session);
    void CloseChunkSessions();

    // Opens the transaction and the COPY; false when the server refused them (a refusal that
    // ends the run is thrown).
    bool StartCopy();
    void Put(std::string_view data);
    // Ends the data, which commits; the outcome of the batch.
    Outcome EndCopy();
    // Takes in the held batch's results as they come; ends one that failed.
    void TakeResults(PGconn* conn);
    // What Pump knew of a batch in flight, for a COPY that starts anew.
    void ForgetInFlight();
    // One attempt at the whole batch: the rows not streamed yet, then the end of the data.
    Outcome SendOnce();
    // After a COPY that skipped rows whose values it could not read (at `lines`, as far as its
    // notices tell) and stored `copied` of the batch's `rows`: each skipped row goes alone as
    // its INSERT statement for its report, then the batch commits. Where the skipped rows are
    // not all known, or one fares otherwise than refused for itself, the batch is undone and
    // settled the usual way, and no later batch skips.
    Outcome EndSkippedRows(std::size_t rows, long long copied, std::vector<std::size_t> lines);

    bool streaming_ = false;           // a COPY of the current batch is open
    bool start_failed_ = false;        // the current batch's COPY could not start
    std::exception_ptr failure_;       // why it could not
    std::size_t sent_ = 0;             // bytes of the current batch sent in the open COPY
    bool end_sent_ = false;            // Pump ended the open COPY's data
    bool output_done_ = false;         // and all of it went out
    std::exception_ptr pump_failure_;  // the connection's, as Pump found it failing
    std::deque<PgResultPtr> taken_;    // the held batch's results, as Pump took them in
    bool results_in_ = false;          // all of them
    bool rolling_back_ = false;        // Pump ended the batch that failed: ROLLBACK unanswered
    bool withdrawn_ = false;           // the open COPY was given up (Withdraw)
    bool awaits_turn_ = false;         // all sent but the end, which Pump may not send yet
    // The open COPY skips rows whose values it cannot read: the lines it names.
    std::optional<SkippedCopyRows> skipped_;
    bool skipping_pays_ = true;  // no batch yet showed that skipping cannot settle it
    int writers_ = 1;            // sessions the run may write through at once
    std::vector<std::unique_ptr<Connection>> chunk_sessions_;
    bool chunk_sessions_wanted_ = true;  // the server granted them when last asked
};

}  // namespace trp
