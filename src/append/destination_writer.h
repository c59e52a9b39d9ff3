#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "append/append_operation.h"

namespace trp {

class Connection;
class EventPacer;

// Told about each row that cannot be appended, in source order, with the server's failure.
using RowFailureHandler = std::function<void(std::exception_ptr failure)>;

// Appends rows, given in COPY's text format, to the destination table in the order given.
// Every row ends either committed or reported to the failure handler; no row is lost silently.
class DestinationWriter {
public:
    virtual ~DestinationWriter() = default;
    // Takes the next row (with its line end); may send and commit rows taken earlier.
    virtual void Add(std::string_view line) = 0;
    // Sends and commits every row still held.
    virtual void Finish() = 0;
};

// The writer for the strategy; for the fast strategy it looks at the destination's catalogue
// to choose COPY or pipelined INSERT statements.
std::unique_ptr<DestinationWriter> MakeDestinationWriter(Connection& destination,
                                                         const std::string& table,
                                                         const AppendOptions& options,
                                                         EventPacer& pacer,
                                                         RowFailureHandler on_failure);

// Sends the row's INSERT statement on its own, committed on its own. Throws DbError with the
// server's message when the row is refused.
void InsertOneRow(Connection& destination, const std::string& table, std::string_view line,
                  EventPacer& pacer);

}  // namespace trp
