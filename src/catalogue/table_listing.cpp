#include "catalogue/table_listing.h"

#include <QString>
#include <algorithm>
#include <optional>
#include <stdexcept>

#include "base/activity.h"
#include "base/error_report.h"
#include "base/error_trap.h"
#include "base/operation_host.h"
#include "catalogue/event_pacer.h"
#include "catalogue/passing_step.h"
#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {

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
    // The screen stays alive while the server is reached and answers; once the program is
    // ending, the listing stops where it stands.
    EventPacer pacer(host);
    try {
        StepPassing<WaitAbandoned>(
            trap, 108, [&] { Existing(connection).Open(BuildConnectionString(profile), &pacer); });
        StepPassing<WaitAbandoned>(trap, 110, [&] {
            RecordSet rows = Existing(connection).Execute(kTableCatalogueQuery);
            Existing(result) = std::move(rows);
        });
    } catch (const WaitAbandoned&) {
        return;
    }
    // The row count alone drives the loop. A head that failed (no connection, no result) runs
    // no passes, so nothing in the body can fail again and again.
    const long long passes = trap.LoopCount(112, [&] { return Existing(result).RecordCount(); });
    for (long long pass = 1; pass <= passes; ++pass) {
        trap.Step(114, [&] { host.ProcessPendingEvents(); });
        // The program is ending (a screen was closed while the events were processed).
        if (host.StopRequested()) break;
        trap.Step(116, [&] {
            const RecordSet& row = Existing(result);
            const std::optional<std::string> text = row.Value(0);
            if (!text) throw std::runtime_error("Invalid use of Null");
            list.AddItem(ListedTable(*text, TableName{*row.Value(1), *row.Value(2)}));
        });
        trap.Step(118, [&] { Existing(result).MoveNext(); });
    }
    trap.Step(122, [&] { Existing(result).Close(); });
    trap.Step(124, [&] { Existing(connection).Close(); });
}

bool ListedBefore(const std::string& one, const std::string& other) {
    // Unicode's case folding, then the characters themselves: no locale decides the order.
    const QString mine = QString::fromStdString(one);
    const QString theirs = QString::fromStdString(other);
    const int folded = mine.compare(theirs, Qt::CaseInsensitive);
    if (folded != 0) return folded < 0;
    return mine.compare(theirs, Qt::CaseSensitive) < 0;
}

void TableList::AddItem(const ListedTable& table) {
    // After the tables it does not come before, as a sorting list control places a new item.
    const auto place = std::upper_bound(tables_.begin(), tables_.end(), table,
                                        [](const ListedTable& one, const ListedTable& other) {
                                            return ListedBefore(one.text, other.text);
                                        });
    tables_.insert(place, table);
}

std::vector<ListedTable> TableList::Named(const std::string& text) const {
    std::vector<ListedTable> named;
    for (const ListedTable& table : tables_)
        if (table.text == text) named.push_back(table);
    return named;
}

void AddTablesToPostgreSQLListbox(ListTarget& list, const ProfileSource& profiles,
                                  OperationHost& host) {
    ListTables(profiles.Profile1(), list, host,
               LocationText("PostgreSQL", "AddTablesToPostgreSQLListbox"));
}

void AddTablesToPostgreSQLListbox2(ListTarget& list, const ProfileSource& profiles,
                                   OperationHost& host) {
    ListTables(profiles.Profile2(), list, host,
               LocationText("PostgreSQL", "AddTablesToPostgreSQLListbox2"));
}

}  // namespace trp
