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
        : BatchWriter(destination, std::move(table), batch_rows, options, pacer, listener) {}

protected:
    Outcome Send(std::size_t first, std::size_t last) override { return SendInserts(first, last); }
};

}  // namespace trp
