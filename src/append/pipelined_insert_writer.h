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
    void RowAdded() override {
        if (batch_.Adopted()) return;  // a large row alone goes when its batch is sent
        if (!streaming_) {
            BeginInserts();
            streaming_ = true;
        }
        SendInsert(batch_.Rows() - 1, nullptr, false);
    }
    Outcome SendBatch() override {
        if (!streaming_) return Send(0, batch_.Rows());
        streaming_ = false;
        return EndInserts(0, batch_.Rows());
    }
    Outcome Send(std::size_t first, std::size_t last) override { return SendInserts(first, last); }

private:
    bool streaming_ = false;  // the current batch's statements are going out
};

}  // namespace trp
