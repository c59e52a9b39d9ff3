#pragma once

#include <memory>
#include <string>

#include "append/append_options.h"
#include "append/column_types.h"
#include "append/destination_writer.h"

namespace trp {

class Connection;
class EventPacer;
class SourceRowTexts;
class WriterListener;

// The writer for the strategy. Pins the destination session's parsing settings; for the fast
// strategy it looks at the destination's catalogue to choose COPY or pipelined INSERT statements.
// `raw_bytes`: the rows are bytes of a database without an encoding, passed on unconverted.
// Whether they travel in COPY's binary format is decided from the source's column types and the
// destination's (TakesBinaryRows says so; the source is then read that way); that needs the
// source's texts of rows the destination refuses (`texts`; without them, text it is).
std::unique_ptr<DestinationWriter> MakeDestinationWriter(
    Connection& destination, const std::string& quoted_table, int columns, bool raw_bytes,
    const ColumnTypes& source_columns, const AppendOptions& options, EventPacer& pacer,
    WriterListener& listener, SourceRowTexts* texts);

}  // namespace trp
