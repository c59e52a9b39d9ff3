#pragma once

#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/screens.h"
#include "append_test_support.h"
#include "db/table_name.h"
#include "settings/profile_store.h"
#include "ui/form2.h"
#include "ui/message_box.h"

class QListWidget;

// Texts as themselves in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace trp::test {

// Appends through the real screens, offscreen: the profiles typed into the connection screen,
// the tables picked in the table selection screen's lists, "Start Appending" pressed; every
// message box recorded (and answered: "OK", unless a test says otherwise).
class ScreenRunTest : public AppendTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Types other profiles into the connection screen.
    void SetProfiles(const Profile& profile1, const Profile& profile2);
    // Refills the lists, picks `table1` in database #1's list and `table2` in database #2's, sets
    // the direction and presses "Start Appending"; returns once the run is over.
    void Press(const std::string& table1, const std::string& table2, bool option1 = true);
    // The same, picking the items that stand for these tables (items may read alike).
    void PressTables(const TableName& table1, const TableName& table2, bool option1 = true);
    // Runs `fault` once, when the bar first shows at least `percent`. It sees the bar's value.
    void AtPercent(double percent, std::function<void(double)> fault);
    // Answers "Stop Appending" on the `n`-th refused row's report.
    void StopAtRowReport(int n) { stop_at_row_report_ = n; }
    // Answers "Ignore All" on the `n`-th refused row's report.
    void IgnoreAllAtRowReport(int n) { ignore_all_at_row_report_ = n; }
    // Answers "Show Refused Rows" on a last box that offers it.
    void ShowRefusedRowsAtTheEnd() { show_refused_rows_ = true; }

    QStringList Reports() const;   // error reports, in order
    QStringList Messages() const;  // ordinary messages, in order
    // The bar's highest value during the last run.
    double HighestPercent() const { return highest_percent_; }

    // The table selection screen (made on first use) and the connection screen.
    Form2& Screen() { return screens_->TableSelectionScreen(); }
    Form1& ConnectionScreen() { return screens_->ConnectionScreen(); }

    std::vector<MessageBox::Shown> shown_;
    std::vector<QUrl> opened_;  // what the desktop's file manager was asked to open
    QTemporaryDir folder_;
    std::unique_ptr<ProfileStore> store_;
    std::unique_ptr<Screens> screens_;

private:
    // Refills the lists, lets `pick` select an item in each, and presses "Start Appending".
    void PressPicked(const std::function<void(QListWidget*, int)>& pick, bool option1);

    double highest_percent_ = 0;
    int stop_at_row_report_ = 0;
    int ignore_all_at_row_report_ = 0;
    bool show_refused_rows_ = false;
    int row_reports_ = 0;
};

// Whether every row of the table is there once: count(*) = count(DISTINCT id).
::testing::AssertionResult NoDoubles(const Profile& profile, const std::string& table);

}  // namespace trp::test
