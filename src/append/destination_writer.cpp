#include "append/destination_writer.h"

#include "append/copy_text_codec.h"
#include "append/copy_writer.h"
#include "append/destination_features.h"
#include "append/event_pacer.h"
#include "append/insert_statement.h"
#include "append/pipelined_insert_writer.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {
namespace {

// One INSERT per row, each committed on its own, the moment the row is taken.
class RowByRowWriter : public DestinationWriter {
public:
    RowByRowWriter(Connection& destination, std::string table, EventPacer& pacer,
                   RowFailureHandler on_failure)
        : destination_(destination),
          table_(std::move(table)),
          pacer_(pacer),
          on_failure_(std::move(on_failure)) {}

    void Add(std::string_view line) override {
        try {
            InsertOneRow(destination_, table_, line, pacer_);
        } catch (const StopRequested&) {
            throw;
        } catch (...) {
            on_failure_(std::current_exception());
        }
    }
    void Finish() override {}

private:
    Connection& destination_;
    std::string table_;
    EventPacer& pacer_;
    RowFailureHandler on_failure_;
};

}  // namespace

void InsertOneRow(Connection& destination, const std::string& table, std::string_view line,
                  EventPacer& pacer) {
    ExecuteAwaited(destination.Handle(), BuildInsertStatement(table, DecodeCopyLine(line)), pacer);
}

std::unique_ptr<DestinationWriter> MakeDestinationWriter(Connection& destination,
                                                         const std::string& table,
                                                         const AppendOptions& options,
                                                         EventPacer& pacer,
                                                         RowFailureHandler on_failure) {
    // Results are awaited with the screen kept alive, never by blocking on the socket.
    if (PQsetnonblocking(destination.Handle(), 1) != 0)
        throw DbError(ErrorText(destination.Handle()));
    switch (options.strategy) {
        case AppendStrategy::RowByRow:
            return std::make_unique<RowByRowWriter>(destination, table, pacer,
                                                    std::move(on_failure));
        case AppendStrategy::PipelinedInserts:
            break;
        case AppendStrategy::Fast: {
            // Where the catalogue cannot be read, the INSERT statements are always right.
            bool copy = false;
            try {
                copy = DetectDestinationFeatures(destination, table).copy_equivalent;
            } catch (const DbError&) {
            }
            if (copy)
                return std::make_unique<CopyWriter>(destination, table, options, pacer,
                                                    std::move(on_failure));
            break;
        }
    }
    return std::make_unique<PipelinedInsertWriter>(destination, table, options, pacer,
                                                   std::move(on_failure));
}

}  // namespace trp
