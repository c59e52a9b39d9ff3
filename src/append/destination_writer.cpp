#include "append/destination_writer.h"

#include "append/copy_writer.h"
#include "append/destination_features.h"
#include "append/pipelined_insert_writer.h"
#include "append/session_settings.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {

std::unique_ptr<DestinationWriter> MakeDestinationWriter(
    Connection& destination, const std::string& table, int columns, bool raw_bytes,
    const ColumnTypes& source_columns, const AppendOptions& options, EventPacer& pacer,
    WriterListener& listener) {
    // Where the catalogue cannot be read, the INSERT statements are always right, and a refusal
    // for want of privilege is taken to concern the whole table.
    DestinationFeatures features;
    try {
        features = DetectDestinationFeatures(destination, table);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
    }
    const DestinationSession session = PinDestinationSettings(destination, table, raw_bytes);
    DestinationTable target{session.quoted_name,   columns,
                            features.row_security, session.messages_in_server_encoding,
                            session.copy_options,  features.columns,
                            features.foreign_keys, false};
    // Results are awaited with the screen kept alive, never by blocking on the socket.
    if (PQsetnonblocking(destination.Handle(), 1) != 0)
        ThrowConnectionFailure(destination.Handle());
    switch (options.strategy) {
        case AppendStrategy::RowByRow:
            return std::make_unique<PipelinedInsertWriter>(destination, std::move(target), 1,
                                                           options, pacer, listener);
        case AppendStrategy::PipelinedInserts:
            break;
        case AppendStrategy::Fast:
            if (!features.copy_equivalent) break;
            // Unconverted bytes are checked against the destination's encoding only in the text
            // format.
            target.binary =
                options.binary && !raw_bytes && BinaryCompatible(source_columns, features.columns);
            return std::make_unique<CopyWriter>(destination, std::move(target), options, pacer,
                                                listener);
    }
    return std::make_unique<PipelinedInsertWriter>(
        destination, std::move(target), options.insert_batch_rows, options, pacer, listener);
}

}  // namespace trp
