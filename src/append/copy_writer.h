#pragma once

#include "append/batch_writer.h"

namespace trp {

// Loads batches with COPY FROM STDIN, each COPY a transaction of its own. The first attempt of a
// batch streams its rows while they are still being read from the source.
class CopyWriter : public BatchWriter {
public:
    CopyWriter(Connection& destination, std::string table, const AppendOptions& options,
               EventPacer& pacer, RowFailureHandler on_failure);

protected:
    void RowAdded() override;
    Outcome SendBatch() override;
    Outcome Send(std::size_t first, std::size_t last) override;

private:
    bool StartCopy();
    void Put(std::string_view data);
    Outcome EndCopy();

    bool streaming_ = false;    // a COPY of the current batch is open
    bool copy_failed_ = false;  // the server refused the COPY or its data part-way
    std::size_t sent_ = 0;      // bytes of the current batch sent in the open COPY
};

}  // namespace trp
