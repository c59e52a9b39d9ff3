// Rows that move inside the server, chunk by chunk, several chunks at once.
#include <algorithm>
#include <cstdlib>

#include "append/commit_check.h"
#include "append/copy_writer.h"
#include "append/reconnection.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

namespace trp {
namespace {

// How long a chunk's own session may take to open: one the server does not grant soon is left
// out rather than awaited.
constexpr int kChunkSessionTimeout = 15;
// How long a chunk begun after a refused one may take to end its INSERT and roll back before its
// session is closed instead.
constexpr std::chrono::seconds kChunkRollBack{30};

}  // namespace

std::size_t CopyWriter::MoveInsideServer(std::size_t first, std::size_t count,
                                         const std::function<std::string(std::size_t)>& select,
                                         const std::string& snapshot) {
    Finish();  // rows taken earlier go first
    const bool all_open =
        std::all_of(chunk_sessions_.begin(), chunk_sessions_.end(),
                    [](const std::unique_ptr<Connection>& session) { return session->IsOpen(); });
    if (chunk_sessions_wanted_ && (chunk_sessions_.empty() || !all_open)) OpenChunkSessions();
    std::vector<Connection*> idle;
    const auto all_idle = [&] {
        idle.clear();
        for (const auto& session : chunk_sessions_) idle.push_back(session.get());
        if (idle.empty()) idle.push_back(&destination_);
        // The first chunk goes to the first session.
        std::reverse(idle.begin(), idle.end());
    };
    all_idle();
    std::deque<ChunkUnderWay> under_way;
    std::size_t next = first;
    try {
        while (true) {
            while (!idle.empty() && next < count) {
                pacer_.Tick();
                if (pacer_.Ending()) break;  // the chunks under way still commit
                under_way.push_back(StartChunk(*idle.back(), next, select(next), snapshot));
                idle.pop_back();
                ++next;
            }
            if (under_way.empty()) return next;
            ChunkUnderWay chunk = std::move(under_way.front());
            under_way.pop_front();
            std::optional<CommitRecord> doubt;
            try {
                if (!EndChunk(chunk, doubt)) {
                    DropChunks(under_way, false);
                    return chunk.chunk;
                }
                idle.push_back(chunk.session);
            } catch (const DbError&) {
                // The chunk, unless its commit is found, goes again, and so do those begun after
                // it (each transaction imports the source's snapshot anew).
                DropChunks(under_way, true);
                next = chunk.chunk;
                if (chunk.session != &destination_) CloseChunkSession(*chunk.session);
                chunk.transaction.reset();
                // A lost destination ridden out: a new session asks after the commit in doubt.
                if (!RodeOut(std::current_exception())) {
                    if (doubt) Unchecked(static_cast<std::size_t>(*doubt->commit.rows));
                    throw;
                }
                if (doubt) {
                    switch (CheckCommit(destination_.ConnectionString(), doubt->commit, pacer_,
                                        commit_check_)) {
                        case CommitStatus::Committed:
                            Count(static_cast<std::size_t>(*doubt->commit.rows),
                                  *doubt->commit.rows);
                            TookInsideServer(*doubt->commit.rows);
                            next = chunk.chunk + 1;
                            break;
                        case CommitStatus::Aborted:
                            break;
                        case CommitStatus::Unknown:
                            Unchecked(static_cast<std::size_t>(*doubt->commit.rows));
                            throw;
                    }
                }
                if (chunk_sessions_wanted_) OpenChunkSessions();
                all_idle();
            }
        }
    } catch (...) {
        DropChunks(under_way, true);
        throw;
    }
}

CopyWriter::ChunkUnderWay CopyWriter::StartChunk(Connection& session, std::size_t chunk,
                                                 const std::string& select,
                                                 const std::string& snapshot) {
    ChunkUnderWay under_way{
        chunk, &session,
        std::make_unique<BatchTransaction>(
            session, pacer_, Setup("BEGIN ISOLATION LEVEL REPEATABLE READ", snapshot)),
        nullptr};
    try {
        under_way.transaction->Send("INSERT INTO " + table_.quoted_name + " " + select);
    } catch (const DbError&) {
        // Told when the chunk's turn comes, in the chunks' order.
        under_way.failure = std::current_exception();
    }
    return under_way;
}

bool CopyWriter::EndChunk(ChunkUnderWay& chunk, std::optional<CommitRecord>& doubt) {
    if (chunk.failure) std::rethrow_exception(chunk.failure);
    PGconn* conn = chunk.session->Handle();
    BatchTransaction& transaction = *chunk.transaction;
    std::optional<long long> rows;
    try {
        ResultStream results(conn, pacer_);
        const bool open = transaction.ReadOpening(results);
        if (open) {
            PgResultPtr inserted = results.Next();
            if (inserted && PQresultStatus(inserted.get()) == PGRES_COMMAND_OK)
                rows = std::atoll(PQcmdTuples(inserted.get()));
        }
        while (results.Next()) {
        }
        if (!open || !rows) {
            const std::exception_ptr failure = results.Failure();
            transaction.Ended(false);
            transaction.RollBack();
            if (!failure) ThrowConnectionFailure(conn);
            // The snapshot or the settings could not be taken: no row's doing.
            if (!open) std::rethrow_exception(failure);
            ThrowIfRunEnds(failure);
            return false;
        }
        // The id is known before the COMMIT is sent, and so is the number of rows.
        const std::exception_ptr refused = transaction.Commit();
        if (refused) {
            // A check left to the end of the transaction refused one of the rows.
            ThrowIfRunEnds(refused);
            return false;
        }
    } catch (const BrokenConnection&) {
        if (rows && RidesOut() && transaction.InDoubt() && !pacer_.Ending()) {
            doubt.emplace(CommitRecord{Doubt(rows), {}});
            doubt->commit.xid = transaction.Xid();
            doubt->commit.opened_at = transaction.OpenedAt();
        } else if (rows) {
            Lost(transaction, static_cast<std::size_t>(*rows), rows);
        }
        throw;
    } catch (const WaitAbandoned&) {
        if (rows) Abandoned(transaction, static_cast<std::size_t>(*rows));
        throw;
    }
    CommitRecord record{Doubt(rows), {}};
    record.commit.xid = transaction.Xid();
    record.commit.opened_at = transaction.OpenedAt();
    Committed(record);
    Count(static_cast<std::size_t>(*rows), *rows);
    TookInsideServer(*rows);
    return true;
}

void CopyWriter::DropChunks(std::deque<ChunkUnderWay>& chunks, bool closing) {
    for (ChunkUnderWay& chunk : chunks) {
        // Only chunk sessions: the writer's own runs one chunk at most, the one that failed.
        if (!closing && !chunk.failure && !pacer_.Ending()) {
            try {
                const Deadline deadline = std::chrono::steady_clock::now() + kChunkRollBack;
                ResultStream results(chunk.session->Handle(), pacer_, deadline);
                while (results.Next()) {
                }
                chunk.transaction->RollBack(deadline);
                continue;
            } catch (const DbError&) {
            }
        }
        CloseChunkSession(*chunk.session);
    }
    chunks.clear();  // a closed session's transaction has ended with it
}

void CopyWriter::OpenChunkSessions() {
    CloseChunkSessions();
    // Chunks of a table with a unique key would meet as a team's batches do (CopyWriters).
    if (writers_ < 2 || table_.unique_keys) {
        chunk_sessions_wanted_ = false;
        return;
    }
    for (int i = 0; i < writers_; ++i) {
        std::unique_ptr<Connection> session =
            OpenSessionLike(destination_, pacer_, kChunkSessionTimeout);
        if (!session) break;  // the next would fare no better
        pacer_.Watch(session->Handle(), session->ServerConnectionString());
        chunk_sessions_.push_back(std::move(session));
    }
    // One is no more than the writer's own session.
    if (chunk_sessions_.size() < 2) {
        CloseChunkSessions();
        chunk_sessions_wanted_ = false;
    }
}

void CopyWriter::CloseChunkSession(Connection& session) {
    if (!session.IsOpen()) return;
    pacer_.Unwatch(session.Handle());
    session.Close();
}

void CopyWriter::CloseChunkSessions() {
    for (const auto& session : chunk_sessions_) CloseChunkSession(*session);
    chunk_sessions_.clear();
}

}  // namespace trp
