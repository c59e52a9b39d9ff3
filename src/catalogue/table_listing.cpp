#include "catalogue/table_listing.h"

#include <optional>
#include <stdexcept>

#include "app/activity.h"
#include "app/error_trap.h"
#include "app/operation_host.h"
#include "connection/connection.h"
#include "connection/connection_string.h"

namespace trp {
namespace {

// A step that needs an object whose creating step failed fails in turn, as a call on a missing
// object would.
template <typename T>
T& Existing(std::optional<T>& object) {
    if (!object) throw std::runtime_error("Object variable not set");
    return *object;
}

}  // namespace

void ListTables(const Profile& profile, ListTarget& list, OperationHost& host,
                const std::string& location) {
    const ActivityScope listing(Activity::Listing);
    ErrorTrap trap(location, host);
    std::optional<Connection> connection;
    std::optional<RecordSet> result;

    trap.Step(100, [&] { list.Clear(); });
    trap.Step(102, [&] { connection.emplace(); });
    // A closed record set until the query's result takes its place.
    trap.Step(104, [&] { result.emplace(); });
    // The client-side cursor is what makes the row count below exact.
    trap.Step(106, [&] { Existing(connection).SetCursorLocation(CursorLocation::Client); });
    trap.Step(108, [&] { Existing(connection).Open(BuildConnectionString(profile)); });
    trap.Step(110, [&] {
        RecordSet rows = Existing(connection).Execute(kTableCatalogueQuery);
        Existing(result) = std::move(rows);
    });
    // The row count alone drives the loop. A head that failed (no connection, no result) runs
    // no passes, so nothing in the body can fail again and again.
    const long long passes = trap.LoopCount(112, [&] { return Existing(result).RecordCount(); });
    for (long long pass = 1; pass <= passes; ++pass) {
        trap.Step(114, [&] { host.ProcessPendingEvents(); });
        // The program is ending (a screen was closed while the events were processed).
        if (host.StopRequested()) break;
        trap.Step(116, [&] {
            const std::optional<std::string> name = Existing(result).Value(0);
            if (!name) throw std::runtime_error("Invalid use of Null");
            list.AddItem(*name);
        });
        trap.Step(118, [&] { Existing(result).MoveNext(); });
    }
    trap.Step(122, [&] { Existing(result).Close(); });
    trap.Step(124, [&] { Existing(connection).Close(); });
}

}  // namespace trp
