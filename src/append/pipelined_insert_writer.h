#pragma once

#include "append/batch_writer.h"

namespace trp {

// Sends each row's own INSERT statement, a batch of them pipelined in one transaction
// (BEGIN, the INSERTs, COMMIT, then one synchronisation), so that the server sees exactly the
// statements of one INSERT per row without a round trip and a commit per row.
class PipelinedInsertWriter : public BatchWriter {
public:
    PipelinedInsertWriter(Connection& destination, std::string table, const AppendOptions& options,
                          EventPacer& pacer, RowFailureHandler on_failure);

protected:
    Outcome Send(std::size_t first, std::size_t last) override;
};

}  // namespace trp
