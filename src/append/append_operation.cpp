#include "append/append_operation.h"

#include <memory>
#include <string_view>

#include "app/error_trap.h"
#include "app/operation_host.h"
#include "append/destination_writer.h"
#include "append/event_pacer.h"
#include "append/session_settings.h"
#include "append/source_reader.h"
#include "catalogue/table_probe.h"
#include "connection/connection.h"
#include "connection/connection_string.h"

namespace trp {
namespace {

constexpr int kTimeoutSeconds = 5000;

// A step under the trap, except that a stop request ends the whole run instead of being
// reported as the step's failure.
template <typename Fn>
bool Step(ErrorTrap& trap, int line, Fn&& step) {
    std::exception_ptr stop;
    const bool ok = trap.Step(line, [&] {
        try {
            step();
        } catch (const StopRequested&) {
            stop = std::current_exception();
        }
    });
    if (stop) std::rethrow_exception(stop);
    return ok;
}

void OpenOn(Connection& connection, const Profile& profile) {
    connection.Open(BuildConnectionString(profile));
    PinSessionSettings(connection);
}

void RunSteps(const AppendRequest& request, OperationHost& host, const AppendOptions& options,
              ErrorTrap& trap) {
    Connection destination;  // 100
    Connection source;       // 102
    // 104 to 110: the places of the results and the rows; nothing is held beyond one batch.

    if (trap.Test(112, [&] { return !request.table1 || !request.table2; })) {
        trap.Step(238,
                  [&] { host.ShowMessage("Please select a table and field from each database."); });
        return;
    }
    const std::string table1 = *request.table1;
    const std::string table2 = *request.table2;

    trap.Step(114, [&] { host.SetBusyPointer(true); });
    trap.Step(116, [&] { destination.SetMode(ConnectMode::ReadWrite); });
    trap.Step(118, [&] { destination.SetCommandTimeout(kTimeoutSeconds); });
    trap.Step(120, [&] { destination.SetConnectionTimeout(kTimeoutSeconds); });
    trap.Step(122, [&] { source.SetMode(ConnectMode::ReadWrite); });
    trap.Step(124, [&] { source.SetCommandTimeout(kTimeoutSeconds); });
    trap.Step(126, [&] { source.SetConnectionTimeout(kTimeoutSeconds); });

    // Option1: rows of the List2 table go into the List1 table; otherwise the other way round.
    const bool into1 = trap.Test(128, [&] { return request.option1; });
    const std::string& destination_table = into1 ? table1 : table2;
    const std::string& source_table = into1 ? table2 : table1;
    if (into1) {
        trap.Step(130, [&] { OpenOn(destination, request.profile1); });
        trap.Step(132, [&] { OpenOn(source, request.profile2); });
    } else {
        trap.Step(134, [&] { OpenOn(source, request.profile1); });
        trap.Step(136, [&] { OpenOn(destination, request.profile2); });
    }

    enum class End { Done, NoRecords, ColumnCounts, Permission } end = End::Done;
    std::unique_ptr<SourceReader> reader;
    EventPacer pacer(host);

    if (trap.Test(138, [&] {
            const bool readable1 = CheckPostgreSQLTablePermission(request.profile1, table1);
            const bool readable2 = CheckPostgreSQLTablePermission2(request.profile2, table2);
            return !(readable1 && readable2);
        })) {
        end = End::Permission;
    } else {
        int destination_columns = 0;
        int source_columns = 0;
        trap.Step(140, [&] {
            destination_columns =
                destination.Execute(ZeroRowSelect(destination_table)).FieldCount();
        });
        trap.Step(142, [&] {
            source_columns = source.Execute(ZeroRowSelect(source_table)).FieldCount();
        });
        if (trap.Test(144, [&] { return destination_columns != source_columns; })) {
            end = End::ColumnCounts;
        } else {
            const bool from2 = trap.Test(146, [&] { return into1; });
            Step(trap, from2 ? 148 : 150,
                 [&] { reader = std::make_unique<SourceReader>(source, source_table, pacer); });
            if (trap.Test(152, [&] { return !reader || reader->RowCount() == 0; })) {
                end = End::NoRecords;
            }
        }
    }

    if (end == End::Done) {
        const long long rows = reader->RowCount();  // 182
        const auto report_row = [&](std::exception_ptr failure) {
            trap.Step(212, [&] { std::rethrow_exception(failure); });
        };
        std::unique_ptr<DestinationWriter> writer;
        Step(trap, 212, [&] {
            writer =
                MakeDestinationWriter(destination, destination_table, options, pacer, report_row);
        });
        for (long long k = 0; writer; ++k) {
            pacer.Tick();  // 156, 186
            std::string_view line;
            bool more = false;
            // A source that fails part-way is reported once; the rows read so far still go in.
            if (!Step(trap, 166, [&] { more = reader->Next(line); }) || !more) break;
            Step(trap, 210, [&] {
                host.SetProgress(k < rows ? static_cast<double>(k + 1) / rows * 100.0 : 100.0);
            });
            Step(trap, 212, [&] { writer->Add(line); });
        }
        if (writer) Step(trap, 212, [&] { writer->Finish(); });
        reader.reset();  // ends the source snapshot before the last message
        trap.Step(222, [&] { host.ShowMessage("Done."); });
    } else if (end == End::NoRecords) {
        const bool from2 = trap.Test(224, [&] { return into1; });
        trap.Step(from2 ? 226 : 228,
                  [&] { host.ShowMessage("No records in table " + source_table + "."); });
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

void RunAppend(const AppendRequest& request, OperationHost& host) {
    RunAppend(request, host, AppendOptions{});
}

void RunAppend(const AppendRequest& request, OperationHost& host, const AppendOptions& options) {
    ErrorTrap trap(LocationText("Form2", "PushButton2_Click"), host);
    try {
        RunSteps(request, host, options, trap);
    } catch (const StopRequested&) {
        // The program is ending: what was committed stays, nothing more is shown.
    }
}

}  // namespace trp
