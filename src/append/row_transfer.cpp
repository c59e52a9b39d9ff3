#include "append/row_transfer.h"

#include <string_view>

#include "append/refused_rows_file.h"
#include "append/run_failure.h"
#include "append/run_step.h"
#include "append/source_reader.h"
#include "base/error_trap.h"
#include "base/number_text.h"
#include "base/operation_host.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/db_error.h"

namespace trp {
namespace {

// Rows of this size and more are kept in the buffer they arrived in, not copied.
constexpr std::size_t kLargeRow = 1 << 20;

}  // namespace

std::string StoppedMessage(const AppendTally& tally, long long source_rows) {
    std::string text = "Appending stopped. " + WithThousands(tally.added) + " of " +
                       WithThousands(source_rows) + " rows were appended.";
    if (tally.unchecked > 0)
        text += " Whether the last " + WithThousands(tally.unchecked) +
                " rows were appended could not be checked.";
    return text;
}

std::string RefusedRowsNote(long long refused, const std::string& path) {
    if (refused == 1) return "1 row was refused; it is listed in " + path + ".";
    return WithThousands(refused) + " rows were refused; they are listed in " + path + ".";
}

RowTransfer::RowTransfer(ErrorTrap& trap, OperationHost& host, EventPacer& pacer,
                         long long source_rows, RefusedRowsFile& refused_rows,
                         int destination_database)
    : trap_(trap),
      host_(host),
      pacer_(pacer),
      source_rows_(source_rows),
      destination_database_(destination_database),
      refused_rows_(refused_rows) {}

RowTransfer::~RowTransfer() = default;

RowTransfer::Ending RowTransfer::Run(
    SourceReader& reader, const std::function<std::unique_ptr<DestinationWriter>()>& make_writer) {
    Ending ending = Ending::Stopped;
    // The rows begin to move: a console counts their pace from here.
    host_.RowsSettled(0, source_rows_);
    try {
        if (RunStep(trap_, 212, [&] { writer_ = make_writer(); })) {
            if (reader.ChunkCount() > 0 && writer_->CanMoveInsideServer(reader.Columns())) {
                path_ = AppendPath::InsideServer;
                ending = TransferInsideServer(reader);
            } else {
                path_ = writer_->Path();
                ending = Transfer(reader, std::nullopt);
            }
        }
    } catch (const AppendStopped&) {
        ending = pacer_.Ending() ? EndInFlight() : Ending::Stopped;
    } catch (const StopRequested&) {
        ending = Ending::ProgramEnding;
    }
    if (writer_) tally_ = writer_->Tally();
    return ending;
}

RowTransfer::Ending RowTransfer::TransferInsideServer(SourceReader& reader) {
    const std::size_t chunks = reader.ChunkCount();
    std::size_t chunk = 0;
    while (chunk < chunks) {
        std::exception_ptr failure;
        try {
            chunk = writer_->MoveInsideServer(
                chunk, chunks, [&](std::size_t of) { return reader.ChunkSelect(of); },
                reader.Snapshot());
        } catch (const BrokenConnection&) {
            failure = std::current_exception();
        } catch (const DbError&) {
            // Each chunk reads the source's snapshot: a source that is lost fails the chunk too,
            // and the source's own failure is the one to report.
            failure = std::current_exception();
            if (!RunStep(trap_, 166, [&] { reader.CheckAlive(); })) return Ending::Stopped;
        }
        if (failure) {
            RunStep(trap_, 212, [&] { std::rethrow_exception(failure); });
            return Ending::Stopped;
        }
        if (chunk == chunks) break;
        if (pacer_.Ending()) return EndInFlight();
        // The destination refused one of the chunk's rows: they come the usual way, each
        // refused row with its report.
        const Ending ending = Transfer(reader, chunk);
        if (ending != Ending::Complete) return ending;
        ++chunk;
    }
    // As after the usual way's last rows.
    if (pacer_.Ending() || host_.StopRequested()) return Ending::ProgramEnding;
    return Ending::Complete;
}

RowTransfer::Ending RowTransfer::Transfer(SourceReader& reader, std::optional<std::size_t> chunk) {
    // The writer decides the rows' format (binary where the columns allow it), and the source
    // is read that way.
    if (!RunStep(trap_, 166, [&] { reader.Start(writer_->TakesBinaryRows(), chunk); }))
        return Ending::Stopped;
    bool source_failed = false;
    while (true) {
        pacer_.Tick();  // 156, 186
        if (pacer_.Ending()) return EndInFlight();
        std::string_view line;
        bool more = false;
        // A source that fails part-way is reported once; the rows read so far still go in.
        if (!RunStep(trap_, 166, [&] { more = reader.Next(line); })) {
            source_failed = true;
            break;
        }
        if (!more) break;
        if (!RunStep(trap_, 212, [&] {
                if (line.size() >= kLargeRow)
                    writer_->AddLarge(reader.TakeRow(), line, reader.Locator());
                else
                    writer_->Add(line, reader.Locator());
            }))
            return Ending::Stopped;
    }
    if (pacer_.Ending()) return EndInFlight();
    if (source_failed) {
        // One report per run, the source's: what the destination makes of the rows read so far
        // shows in the count.
        try {
            writer_->Finish();
        } catch (const DbError&) {
        } catch (const SourceLost&) {
            // Lost once more while refused rows' values were looked up there.
        }
        return Ending::Stopped;
    }
    if (!RunStep(trap_, 212, [&] { writer_->Finish(); })) return Ending::Stopped;
    // Closed or signalled while the last rows went in (perhaps too late for the pacer to have
    // seen it): every row is in, and nothing more is shown.
    if (pacer_.Ending() || host_.StopRequested()) return Ending::ProgramEnding;
    return Ending::Complete;
}

RowTransfer::Ending RowTransfer::EndInFlight() {
    try {
        writer_->FinishInFlight();
    } catch (const StopRequested&) {
        // The server did not finish in time; the program ends all the same.
    }
    return Ending::ProgramEnding;
}

bool RowTransfer::RowRefused(const RefusedRow& row) {
    ++refused_;
    // A program that is ending, or a run the user stopped, still keeps the row, but shows
    // nothing more.
    const bool quiet = stopping_ || pacer_.Ending() || host_.StopRequested();
    Keep(row, !quiet);
    if (quiet) {
        stopping_ = true;
        return false;
    }
    if (ignore_all_) return true;
    const std::string report =
        ComposeErrorReport(FailureDescription(row.failure), trap_.Location(), 212);
    const RowReportAnswer answer = host_.ShowRowErrorBox(report);
    // The window closed, or a termination signal, while the report was open: as "Stop
    // Appending", and then the program ends.
    if (host_.StopRequested()) {
        pacer_.ProcessNow();
        stopping_ = true;
        return false;
    }
    switch (answer) {
        case RowReportAnswer::StopAppending:
            stopping_ = true;
            return false;
        case RowReportAnswer::IgnoreAll:
            ignore_all_ = true;
            return true;
        case RowReportAnswer::Ok:
            break;
    }
    return true;
}

bool RowTransfer::ReportsMayWait() const {
    return !stopping_ && !ignore_all_ && host_.RowReportsWait();
}

void RowTransfer::Keep(const RefusedRow& row, bool may_report) {
    std::string sqlstate;
    if (row.failure) {
        try {
            std::rethrow_exception(row.failure);
        } catch (const DbError& error) {
            sqlstate = error.sqlstate();
        } catch (...) {
        }
    }
    const auto keep = [&] {
        refused_rows_.Add(row.values ? &*row.values : nullptr, row.source_row, sqlstate,
                          FailureDescription(row.failure));
    };
    if (may_report) {
        trap_.Step(212, keep);
        return;
    }
    try {
        keep();
    } catch (const std::exception&) {
    }
}

void RowTransfer::Reconnecting(std::chrono::seconds so_far) {
    host_.Reconnecting(destination_database_, so_far);
}

void RowTransfer::Reconnected(std::chrono::seconds took, long long next_row) {
    host_.Reconnected(destination_database_, took, next_row);
}

void RowTransfer::Progressed(const AppendTally& tally) {
    trap_.Step(210, [&] {
        host_.SetProgress(source_rows_ > 0 ? 100.0 * static_cast<double>(tally.settled) /
                                                 static_cast<double>(source_rows_)
                                           : 100.0);
        host_.RowsSettled(tally.settled, source_rows_);
    });
}

}  // namespace trp
