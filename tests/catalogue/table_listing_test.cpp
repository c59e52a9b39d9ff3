#include "catalogue/table_listing.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <algorithm>
#include <stdexcept>

#include "base/error_report.h"
#include "support/fixed_profiles.h"
#include "support/pg_fixture.h"
#include "support/recording_host.h"
#include "ui/list_widget_target.h"

namespace trp {
namespace {

using test::PgTest;
using test::RecordingHost;

const std::string kLocation1 =
    "in TessalineRowPort2021/08/31.PostgreSQL.AddTablesToPostgreSQLListbox ";

// A list that remembers its items and how often it was cleared; it can refuse one name.
class RecordingList : public ListTarget {
public:
    void Clear() override {
        items.clear();
        ++clears;
    }
    void AddItem(const ListedTable& table) override {
        if (table.text == refuse) throw std::runtime_error("The list refused " + table.text);
        items.push_back(table.text);
        tables.push_back(table);
        if (host) events_at_item.push_back(host->pending_event_calls);
    }
    long Count(const std::string& name) const { return std::ranges::count(items, name); }

    std::vector<std::string> items;
    std::vector<ListedTable> tables;
    // The host's count of event processing as each item came (when a host is watched).
    const RecordingHost* host = nullptr;
    std::vector<long long> events_at_item;
    int clears = 0;
    std::string refuse;
};

// The line number that an error report names.
int ReportedLine(const std::string& report) {
    const auto at = report.find("at line ");
    return at == std::string::npos ? -1 : std::stoi(report.substr(at + 8));
}

class TableListingTest : public PgTest {
protected:
    void SetUp() override { CreateDatabase("listing"); }

    // The tables pg_tables shows, each as the lists show it: bare where the default search path
    // reaches it, schema-qualified otherwise.
    std::vector<std::string> ServerNames() {
        std::vector<std::string> names;
        for (const auto& row :
             Query("listing",
                   "SELECT CASE WHEN pg_table_is_visible(format('%I.%I', schemaname, "
                   "tablename)::regclass) THEN tablename ELSE format('%I.%I', schemaname, "
                   "tablename) END FROM pg_tables"))
            names.push_back(*row.at(0));
        return names;
    }

    RecordingList list;
    RecordingHost host;
};

TEST_F(TableListingTest, ListsEveryCatalogueRowInServerOrderAndYieldsOncePerRow) {
    // No tables of its own yet: the system catalogue tables are listed all the same.
    ListTables(UserProfile("listing"), list, host, kLocation1);
    EXPECT_GT(list.Count("pg_class"), 0);
    EXPECT_EQ(list.items, ServerNames());

    Exec("listing", "CREATE TABLE orders (id int); CREATE TABLE \"Customers\" (id int)");
    host = {};
    ListTables(UserProfile("listing"), list, host, kLocation1);
    EXPECT_EQ(list.items, ServerNames());
    EXPECT_EQ(list.Count("orders"), 1);
    EXPECT_EQ(list.Count("Customers"), 1);
    EXPECT_TRUE(host.ErrorReports().empty());
}

TEST_F(TableListingTest, PendingEventsAreProcessedOncePerRowAndWhileTheServerIsAwaited) {
    list.host = &host;
    ListTables(UserProfile("listing"), list, host, kLocation1);
    ASSERT_GT(list.events_at_item.size(), 2u);
    // Before the first row too: while the server is reached and answers.
    EXPECT_GE(list.events_at_item.front(), 1);
    for (std::size_t i = 1; i < list.events_at_item.size(); ++i)
        EXPECT_EQ(list.events_at_item[i], list.events_at_item[i - 1] + 1);
}

TEST_F(TableListingTest, ListingTwiceLeavesOneCopyOfEachName) {
    Exec("listing", "CREATE TABLE orders (id int)");
    ListTables(UserProfile("listing"), list, host, kLocation1);
    const auto first = list.items;
    ListTables(UserProfile("listing"), list, host, kLocation1);
    EXPECT_EQ(list.clears, 2);
    EXPECT_EQ(list.items, first);
    EXPECT_EQ(list.Count("orders"), 1);
}

TEST_F(TableListingTest, TablesBeyondTheSearchPathAreListedWithTheirSchemaAndKeepTheirIdentity) {
    Exec("listing",
         "CREATE SCHEMA archive; CREATE TABLE public.dup (id int); "
         "CREATE TABLE archive.dup (id int); CREATE SCHEMA sales; CREATE TABLE sales.orders (id "
         "int); CREATE TABLE public.\"sales.orders\" (id int); CREATE SCHEMA \"Q 1\"; "
         "CREATE TABLE \"Q 1\".\"T\" (id int)");
    // A session that moved its search path does not change what the list shows.
    Admin("postgres", "ALTER ROLE porter IN DATABASE listing SET search_path = public");
    ListTables(UserProfile("listing"), list, host, kLocation1);
    Admin("postgres", "ALTER ROLE porter IN DATABASE listing RESET search_path");
    EXPECT_EQ(list.Count("dup"), 1);
    EXPECT_EQ(list.Count("archive.dup"), 1);
    EXPECT_EQ(list.Count("sales.orders"), 2);
    EXPECT_EQ(list.Count("\"Q 1\".\"T\""), 1);
    EXPECT_EQ(list.Count("pg_class"), 1);
    EXPECT_EQ(list.Count("information_schema.sql_features"), 1);
    const auto table_of = [&](const std::string& text) {
        std::vector<TableName> found;
        for (const ListedTable& table : list.tables)
            if (table.text == text) found.push_back(table.table);
        return found;
    };
    EXPECT_EQ(table_of("dup"), std::vector<TableName>{TableName({"public", "dup"})});
    EXPECT_EQ(table_of("archive.dup"), std::vector<TableName>{TableName({"archive", "dup"})});
    const std::vector<TableName> alike = table_of("sales.orders");
    EXPECT_EQ(alike.size(), 2u);
    EXPECT_NE(std::ranges::find(alike, TableName{"sales", "orders"}), alike.end());
    EXPECT_NE(std::ranges::find(alike, TableName{"public", "sales.orders"}), alike.end());
}

TEST_F(TableListingTest, WrongPasswordReportsOpenQueryAndCountThenEndsWithAnEmptyList) {
    list.items = {"left over"};
    Profile profile = UserProfile("listing");
    profile.password = "wrong";
    ListTables(profile, list, host, kLocation1);

    // Events may be processed while the login is awaited, however short; no row is listed.
    EXPECT_TRUE(list.items.empty());
    const auto reports = host.ErrorReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(ReportedLine(reports[0]), 108);
    EXPECT_NE(reports[0].find("password authentication failed"), std::string::npos) << reports[0];
    EXPECT_EQ(reports[1],
              "Operation is not allowed when the connection is closed.\r\n"
              "in TessalineRowPort2021/08/31.PostgreSQL.AddTablesToPostgreSQLListbox at line 110"
              "\r\rPlease email screenshot of this message to support@kestrelby.example");
    EXPECT_EQ(ReportedLine(reports[2]), 112);
    EXPECT_NE(reports[2].find("record set is closed"), std::string::npos) << reports[2];
}

TEST_F(TableListingTest, RowThatCannotBeAddedIsReportedAndTheRestAreListed) {
    Exec("listing",
         "CREATE TABLE before_it (id int); CREATE TABLE refused (id int); "
         "CREATE TABLE after_it (id int)");
    list.refuse = "refused";
    ListTables(UserProfile("listing"), list, host, kLocation1);

    const auto reports = host.ErrorReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(ReportedLine(reports[0]), 116);
    EXPECT_EQ(reports[0].rfind("The list refused refused\r\n" + kLocation1, 0), 0u) << reports[0];
    EXPECT_EQ(list.Count("refused"), 0);
    EXPECT_EQ(list.Count("before_it"), 1);
    EXPECT_EQ(list.Count("after_it"), 1);
    EXPECT_EQ(list.items.size(), ServerNames().size() - 1);
}

// A host whose program ends while the third batch of pending events is processed.
// The program ends once two rows have been listed.
class EndingHost : public RecordingHost {
public:
    explicit EndingHost(const RecordingList& list) : list_(list) {}
    bool StopRequested() const override { return list_.items.size() >= 2; }

private:
    const RecordingList& list_;
};

TEST_F(TableListingTest, StopsReadingRowsOnceTheProgramIsEnding) {
    EndingHost ending(list);
    ListTables(UserProfile("listing"), list, ending, kLocation1);
    EXPECT_EQ(list.items.size(), 2u);
    EXPECT_TRUE(ending.ErrorReports().empty());
}

TEST_F(TableListingTest, ListControlKeepsNamesAlphabeticalWhateverTheirCase) {
    Exec("listing",
         "CREATE TABLE beta (id int); CREATE TABLE \"Alpha\" (id int); "
         "CREATE TABLE alpha (id int); CREATE TABLE \"Zulu\" (id int); "
         "CREATE TABLE charlie (id int)");
    QListWidget widget;
    widget.setSortingEnabled(true);
    ListWidgetTarget target(widget);
    ListTables(UserProfile("listing"), target, host, kLocation1);
    ListTables(UserProfile("listing"), target, host, kLocation1);

    QStringList shown;
    for (int i = 0; i < widget.count(); ++i) shown << widget.item(i)->text();
    ASSERT_EQ(static_cast<size_t>(shown.size()), ServerNames().size());
    const auto at = [&](const char* name) { return shown.indexOf(QString::fromUtf8(name)); };
    EXPECT_LT(at("Alpha"), at("alpha"));
    EXPECT_LT(at("alpha"), at("beta"));
    EXPECT_LT(at("beta"), at("charlie"));
    EXPECT_LT(at("pg_class"), at("Zulu"));
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    }));
}

TEST_F(TableListingTest, TwinsReadTheirOwnProfileAndReportUnderTheirOwnNames) {
    Profile wrong = UserProfile("listing");
    wrong.password = "wrong";
    // Profile #1 fails, profile #2 lists.
    const test::FixedProfiles profiles(wrong, UserProfile("listing"));

    RecordingList list1;
    RecordingList list2;
    RecordingHost host1;
    RecordingHost host2;
    AddTablesToPostgreSQLListbox(list1, profiles, host1);
    AddTablesToPostgreSQLListbox2(list2, profiles, host2);

    ASSERT_EQ(host1.ErrorReports().size(), 3u);
    EXPECT_NE(host1.ErrorReports()[0].find(kLocation1 + "at line 108"), std::string::npos);
    EXPECT_TRUE(list1.items.empty());
    EXPECT_TRUE(host2.ErrorReports().empty());
    EXPECT_EQ(list2.items.size(), ServerNames().size());
}

}  // namespace
}  // namespace trp
