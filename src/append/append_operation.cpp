#include "append/append_operation.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "append/refused_rows_file.h"
#include "append/row_transfer.h"
#include "append/run_step.h"
#include "append/source_reader.h"
#include "append/source_row_lookup.h"
#include "append/writer_choice.h"
#include "base/error_trap.h"
#include "base/operation_host.h"
#include "catalogue/event_pacer.h"
#include "catalogue/table_probe.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/db_error.h"
#include "db/server_version.h"

namespace trp {
namespace {

// The same server, database and login on both sides, so the same privileges apply: the rows may
// move inside the server.
bool SameDatabase(const AppendRequest& request, const AppendOptions& options) {
    const Profile& one = request.profile1;
    const Profile& two = request.profile2;
    return options.chunk_blocks > 0 && options.strategy == AppendStrategy::Fast &&
           one.server == two.server && one.port == two.port && one.user == two.user &&
           one.database == two.database;
}

// The screen stays alive while the server is reached: a window closed or a termination signal
// meanwhile ends the run (the waiter gives up) within the pacer's grace.
// `writable`: a host that takes writes, where the profile lists several (the destination's).
void OpenOn(Connection& connection, const Profile& profile, EventPacer& pacer, bool writable) {
    const std::string connection_string = BuildConnectionString(profile);
    connection.Open(writable ? AskingForWritableHost(connection_string) : connection_string,
                    &pacer);
}

// A server older than any this program appends with is named before anything is sent.
void RequireAppendableServer(const Connection& connection) {
    if (!connection.IsOpen()) return;  // its failure was reported; the probes follow
    if (const auto too_old = ServerVersion::Of(connection.Handle()).TooOldToAppend())
        throw DbError(*too_old);
}

std::vector<std::string> FieldNames(const RecordSet& result) {
    std::vector<std::string> names;
    for (int i = 0; i < result.FieldCount(); ++i) names.push_back(result.FieldName(i));
    return names;
}

// The order in which the source's columns are read: the destination's, where both tables have
// the same names in another order (by position they could only be a mistake); otherwise as
// they stand (empty).
std::vector<std::string> ColumnOrder(const std::vector<std::string>& destination,
                                     std::vector<std::string> source) {
    if (destination == source) return {};
    std::vector<std::string> sorted_destination = destination;
    std::sort(sorted_destination.begin(), sorted_destination.end());
    std::sort(source.begin(), source.end());
    if (sorted_destination != source ||
        std::adjacent_find(source.begin(), source.end()) != source.end())
        return {};
    return destination;
}

void RunSteps(const AppendRequest& request, OperationHost& host, const AppendOptions& options,
              ErrorTrap& trap, AppendOutcome& outcome) {
    using End = AppendOutcome::End;
    // The run's refused rows are kept under the time it started.
    const auto started = std::chrono::system_clock::now();
    EventPacer pacer(host);
    Connection destination;  // 100
    Connection source;       // 102
    // 104 to 110: the places of the results and the rows; nothing is held beyond one batch.

    if (trap.Test(112, [&] { return !request.table1 || !request.table2; })) {
        trap.Step(238,
                  [&] { host.ShowMessage("Please select a table and field from each database."); });
        return;
    }
    const ListedTable table1 = *request.table1;
    const ListedTable table2 = *request.table2;

    trap.Step(114, [&] { host.SetBusyPointer(true); });
    trap.Step(116, [&] { destination.SetMode(ConnectMode::ReadWrite); });
    trap.Step(118, [&] { destination.SetCommandTimeout(options.command_timeout); });
    trap.Step(120, [&] { destination.SetConnectionTimeout(options.connection_timeout); });
    trap.Step(122, [&] { source.SetMode(ConnectMode::ReadWrite); });
    trap.Step(124, [&] { source.SetCommandTimeout(options.command_timeout); });
    trap.Step(126, [&] { source.SetConnectionTimeout(options.connection_timeout); });

    // Option1: rows of the List2 table go into the List1 table; otherwise the other way round.
    const bool into1 = trap.Test(128, [&] { return request.option1; });
    const ListedTable& destination_table = into1 ? table1 : table2;
    const ListedTable& source_table = into1 ? table2 : table1;
    // Each connection's opening, then whether its server is one to append with.
    bool appendable = true;
    const auto open = [&](int line, Connection& connection, const Profile& profile, bool writable) {
        RunStep(trap, line, [&] { OpenOn(connection, profile, pacer, writable); });
        if (appendable)
            appendable = RunStep(trap, line, [&] { RequireAppendableServer(connection); });
    };
    // Within one database the source reads on the same server as the destination writes.
    const bool same_database = SameDatabase(request, options);
    if (into1) {
        open(130, destination, request.profile1, true);
        open(132, source, request.profile2, same_database);
    } else {
        open(134, source, request.profile1, same_database);
        open(136, destination, request.profile2, true);
    }
    if (!appendable) {
        // One report, and nothing was sent.
        outcome.end = End::ServerTooOld;
        trap.Step(236, [&] { host.SetBusyPointer(false); });
        trap.Step(234, [&] { host.ResetProgress(); });
        return;
    }

    End end = End::Done;
    std::unique_ptr<SourceReader> reader;
    std::unique_ptr<SourceRowLookup> lookup;
    std::vector<std::string> destination_names;

    if (RunTest(trap, 138, [&] {
            const bool readable1 =
                CheckPostgreSQLTablePermission(request.profile1, table1.table, &pacer);
            const bool readable2 =
                CheckPostgreSQLTablePermission2(request.profile2, table2.table, &pacer);
            return !(readable1 && readable2);
        })) {
        end = End::Permission;
    } else {
        std::vector<std::string> source_names;
        RunStep(trap, 140, [&] {
            destination_names = FieldNames(
                destination.Execute(ZeroRowSelect(destination, destination_table.table)));
        });
        RunStep(trap, 142, [&] {
            source_names = FieldNames(source.Execute(ZeroRowSelect(source, source_table.table)));
        });
        if (trap.Test(144, [&] { return destination_names.size() != source_names.size(); })) {
            end = End::ColumnCounts;
        } else {
            const bool from2 = trap.Test(146, [&] { return into1; });
            // A source that cannot be read at all ends the run after its report.
            if (!RunStep(trap, from2 ? 148 : 150, [&] {
                    reader = std::make_unique<SourceReader>(
                        source, QualifiedName(source, source_table.table),
                        ColumnOrder(destination_names, source_names), pacer,
                        same_database ? options.chunk_blocks : 0);
                    // The reference reads as one stream.
                    if (options.strategy != AppendStrategy::RowByRow)
                        reader->ReadInParts(
                            options.readers > 0
                                ? options.readers
                                : std::min(options.writers, AppendOptions::kMostReaders),
                            options.part_blocks, options.readers == 0);
                    lookup = std::make_unique<SourceRowLookup>(
                        source.ServerConnectionString(), reader->QuotedTable(),
                        reader->SelectList(), reader->Snapshot(), pacer);
                })) {
                end = End::Stopped;
            } else if (trap.Test(152, [&] { return reader->RowCount() == 0; })) {
                end = End::NoRecords;
            }
        }
    }

    AppendTally tally;
    const long long rows = reader ? reader->RowCount() : 0;  // 182
    if (reader) outcome.source_rows = rows;
    RefusedRowsFile refused_rows(RefusedRowsFolder(), started, destination_table.text,
                                 destination_names);
    long long refused = 0;
    if (end == End::Done) {
        RowTransfer transfer(trap, host, pacer, rows, refused_rows, into1 ? 1 : 2);
        const RowTransfer::Ending ending = transfer.Run(*reader, [&] {
            return MakeDestinationWriter(
                destination, QualifiedName(destination, destination_table.table),
                static_cast<int>(destination_names.size()), reader->RawBytes(), reader->Columns(),
                options, pacer, transfer, reader->Snapshot().empty() ? nullptr : lookup.get());
        });
        tally = transfer.Tally();
        outcome.tally = tally;
        outcome.path = transfer.Path();
        outcome.source_sessions = reader->ReadingSessions();
        outcome.refused = transfer.RefusedRows();
        if (outcome.refused > 0 && refused_rows.Complete())
            outcome.refused_rows_path = refused_rows.Path();
        if (ending == RowTransfer::Ending::ProgramEnding) {
            outcome.end = End::ProgramEnding;
            return;
        }
        if (ending == RowTransfer::Ending::Stopped) end = End::Stopped;
        // "Done." only when every row of the source is accounted for: sent in a committed
        // transaction or reported.
        if (end == End::Done && tally.settled != rows) end = End::Stopped;
        refused = transfer.RefusedRows();
    }
    outcome.end = end;
    // Ends the source's snapshot before the last message.
    lookup.reset();
    reader.reset();
    source.Close();

    // The last message says where the refused rows are, when the file holds them all.
    const auto last_message = [&](const std::string& text) {
        if (refused > 0 && refused_rows.Complete() && !refused_rows.Path().empty())
            host.ShowMessageWithRefusedRows(text, RefusedRowsNote(refused, refused_rows.Path()),
                                            refused_rows.Folder());
        else
            host.ShowMessage(text);
    };
    if (end == End::Done) {
        trap.Step(222, [&] { last_message("Done."); });
    } else if (end == End::Stopped) {
        trap.Step(222, [&] { last_message(StoppedMessage(tally, rows)); });
    } else if (end == End::NoRecords) {
        const bool from2 = trap.Test(224, [&] { return into1; });
        trap.Step(from2 ? 226 : 228,
                  [&] { host.ShowMessage("No records in table " + source_table.text + "."); });
    } else if (end == End::ColumnCounts) {
        trap.Step(230,
                  [&] { host.ShowMessage("Tables do not have same number of fields (columns)."); });
    } else {
        trap.Step(232, [&] { host.ShowMessage("You do not have permission to this table."); });
    }
    trap.Step(236, [&] { host.SetBusyPointer(false); });
    trap.Step(234, [&] { host.ResetProgress(); });
}

}  // namespace

AppendOptions& DefaultAppendOptions() {
    static AppendOptions options;
    return options;
}

AppendOutcome RunAppend(const AppendRequest& request, OperationHost& host) {
    return RunAppend(request, host, DefaultAppendOptions());
}

AppendOutcome RunAppend(const AppendRequest& request, OperationHost& host,
                        const AppendOptions& options) {
    ErrorTrap trap(LocationText("Form2", "PushButton2_Click"), host);
    AppendOutcome outcome;
    try {
        RunSteps(request, host, options, trap, outcome);
    } catch (const WaitAbandoned&) {
        // The program is ending: what was committed stays, nothing more is shown.
        outcome.end = AppendOutcome::End::ProgramEnding;
    }
    return outcome;
}

}  // namespace trp
