#include "append/writer_choice.h"

#include "append/copy_writer.h"
#include "append/destination_features.h"
#include "append/pipelined_insert_writer.h"
#include "append/reconnection.h"
#include "append/session_settings.h"
#include "append/writer_team.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/server_version.h"

namespace trp {
namespace {

// How long the sessions of the other writers may take to open: one the server does not grant
// soon is left out rather than awaited.
constexpr int kWriterSessionTimeout = 15;

// One writer, or a team of as many as the options ask for and the server grants sessions for,
// sharing the memory one writer's batches would take. With a unique key the batches commit in
// the source's order, so that the same rows are refused as one after the other.
std::unique_ptr<DestinationWriter> CopyWriters(Connection& destination,
                                               const DestinationTable& target,
                                               const AppendOptions& options, EventPacer& pacer,
                                               WriterListener& listener, SourceRowTexts* texts) {
    std::vector<std::unique_ptr<Connection>> sessions;
    while (static_cast<int>(sessions.size()) + 1 < options.writers) {
        std::unique_ptr<Connection> session =
            OpenSessionLike(destination, pacer, kWriterSessionTimeout);
        if (!session) break;
        sessions.push_back(std::move(session));
    }
    if (sessions.empty())
        return std::make_unique<CopyWriter>(destination, target, options, pacer, listener, texts);
    AppendOptions share = options;
    share.batch_bytes = options.batch_bytes / (sessions.size() + 1);
    auto team = std::make_unique<WriterTeam>(pacer, listener, target.unique_keys);
    team->Join(std::make_unique<CopyWriter>(destination, target, share, pacer, *team, texts));
    for (auto& session : sessions)
        team->Join(std::move(session), [&](Connection& connection) {
            return std::make_unique<CopyWriter>(connection, target, share, pacer, *team, texts);
        });
    return team;
}

}  // namespace

std::unique_ptr<DestinationWriter> MakeDestinationWriter(
    Connection& destination, const std::string& quoted_table, int columns, bool raw_bytes,
    const ColumnTypes& source_columns, const AppendOptions& options, EventPacer& pacer,
    WriterListener& listener, SourceRowTexts* texts) {
    // Results are awaited with the screen kept alive, never by blocking on the socket.
    if (PQsetnonblocking(destination.Handle(), 1) != 0)
        ThrowConnectionFailure(destination.Handle());
    // Where the catalogue cannot be read, the INSERT statements are always right, and a refusal
    // for want of privilege is taken to concern the whole table.
    DestinationFeatures features;
    try {
        features = DetectDestinationFeatures(destination, quoted_table, pacer);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError&) {
    }
    const DestinationSession session = DescribeDestination(destination, quoted_table, raw_bytes);
    DestinationTable target;
    target.quoted_name = session.quoted_name;
    target.quoted_name_in_transaction = session.quoted_name_in_transaction;
    target.settings = SetLocally(DestinationSettings(
        raw_bytes, options.command_timeout, ChecksConnections(destination, pacer),
        ServerVersion::Of(destination.Handle()).BoundsUnacknowledgedData()));
    target.columns = columns;
    target.row_security = features.row_security;
    target.messages_in_server_encoding = session.messages_in_server_encoding;
    target.copy_options = session.copy_options;
    target.column_types = features.columns;
    target.foreign_keys = features.foreign_keys;
    target.unique_keys = features.unique_keys;
    target.relation_name = features.relation_name;
    target.server = ServerVersion::Of(destination.Handle());
    switch (options.strategy) {
        case AppendStrategy::RowByRow:
            return std::make_unique<PipelinedInsertWriter>(destination, std::move(target), 1,
                                                           options, pacer, listener);
        case AppendStrategy::PipelinedInserts:
            break;
        case AppendStrategy::Fast:
            if (!features.copy_equivalent) break;
            // Unconverted bytes are checked against the destination's encoding only in the text
            // format; a refused binary row needs the source's own text of it.
            target.binary = options.binary && !raw_bytes && texts &&
                            BinaryCompatible(source_columns, features.columns);
            return CopyWriters(destination, target, options, pacer, listener, texts);
    }
    return std::make_unique<PipelinedInsertWriter>(
        destination, std::move(target), options.insert_batch_rows, options, pacer, listener);
}

}  // namespace trp
