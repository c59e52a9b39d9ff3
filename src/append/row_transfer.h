#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "append/destination_writer.h"

namespace trp {

class ErrorTrap;
class EventPacer;
class OperationHost;
class RefusedRowsFile;
class SourceReader;

// The rows' way from the source to the destination, under the append's error trap: the reading
// of each row (line 166), its sending (212) and the bar (210), which follows the rows whose
// outcome is final. Each refused row gets its report, until the user answers "Ignore All", and
// is kept in the run's refused-rows file; a file that cannot be written is reported once.
class RowTransfer : public WriterListener {
public:
    enum class Ending {
        Complete,       // every row read and settled
        Stopped,        // a failure ended the run (reported), or the user stopped it
        ProgramEnding,  // the program is ending: nothing more may be shown
    };

    // `destination_database`: 1 or 2, as the host names it.
    RowTransfer(ErrorTrap& trap, OperationHost& host, EventPacer& pacer, long long source_rows,
                RefusedRowsFile& refused_rows, int destination_database);
    ~RowTransfer() override;

    Ending Run(SourceReader& reader,
               const std::function<std::unique_ptr<DestinationWriter>()>& make_writer);
    const AppendTally& Tally() const { return tally_; }
    // The way the rows went (None before a writer was made).
    AppendPath Path() const { return path_; }
    // The rows the destination refused, reported or not.
    long long RefusedRows() const { return refused_; }

    bool RowRefused(const RefusedRow& row) override;
    bool ReportsMayWait() const override;
    void Progressed(const AppendTally& tally) override;
    void Reconnecting(std::chrono::seconds so_far) override;
    void Reconnected(std::chrono::seconds took, long long next_row) override;

private:
    // Streams the rows of the source table (or of one of its chunks) to the writer and settles
    // them all.
    Ending Transfer(SourceReader& reader, std::optional<std::size_t> chunk);
    // Moves the rows chunk by chunk inside the server, a chunk that holds a refused row the
    // usual way.
    Ending TransferInsideServer(SourceReader& reader);
    Ending EndInFlight();
    // Writes a refused row to the file; a failure is reported when `may_report`.
    void Keep(const RefusedRow& row, bool may_report);

    ErrorTrap& trap_;
    OperationHost& host_;
    EventPacer& pacer_;
    long long source_rows_;
    int destination_database_;
    RefusedRowsFile& refused_rows_;
    std::unique_ptr<DestinationWriter> writer_;
    AppendTally tally_;
    AppendPath path_ = AppendPath::None;
    long long refused_ = 0;
    bool ignore_all_ = false;  // the user answered "Ignore All"
    bool stopping_ = false;    // the user answered "Stop Appending"
};

// "Appending stopped. X of Y rows were appended." with comma thousands separators, and the
// sentence on rows whose commit could not be checked when there are any.
std::string StoppedMessage(const AppendTally& tally, long long source_rows);

// What the last message adds when rows were refused: "1,234 rows were refused; they are listed
// in <path>." ("1 row was refused; it is listed in <path>." for one).
std::string RefusedRowsNote(long long refused, const std::string& path);

}  // namespace trp
