#pragma once

#include "append/batch_writer.h"

namespace trp {

// Sends each row's own INSERT statement, a batch of them pipelined in one transaction, so that
// the server sees exactly the statements of one INSERT per row without a round trip and a commit
// per row. With batches of one row it is the one-INSERT-per-row reference itself.
class PipelinedInsertWriter : public BatchWriter {
public:
    PipelinedInsertWriter(Connection& destination, DestinationTable table, std::size_t batch_rows,
                          const AppendOptions& options, EventPacer& pacer, WriterListener& listener)
        : BatchWriter(destination, std::move(table), batch_rows, options, pacer, listener,
                      nullptr) {}

    AppendPath Path() const override { return AppendPath::Inserts; }

protected:
    // The first attempt of a batch sends each row's statement as the row comes, so the server
    // works on them while the next rows are being read.
    void RowAdded() override;
    Outcome SendBatch() override;
    bool PiecesByCopy() const override { return false; }
    void Restart() override {
        BatchWriter::Restart();
        streaming_ = false;
    }

private:
    // The whole batch as the rows' own INSERT statements, pipelined in one transaction; the
    // same in three parts, for rows that go out as they come: the transaction opened in a
    // pipeline; one row's statement; and the end, where the statements' results are read and
    // the COMMIT goes out only once they all succeeded (so what the server stored is known
    // before it commits).
    Outcome SendInserts();
    void BeginInserts();
    void SendInsert(std::size_t row);
    Outcome EndInserts();

    bool streaming_ = false;        // the current batch's statements are going out
    std::size_t inserts_sent_ = 0;  // statements in the open pipeline
};

}  // namespace trp
