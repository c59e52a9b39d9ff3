#include "screen_run.h"

#include <QListWidget>
#include <QRadioButton>

#include "base/program_end.h"
#include "support/controls.h"
#include "support/profile_fields.h"
#include "ui/form2.h"
#include "ui/list_widget_target.h"
#include "ui/progress_bar.h"
#include "ui/push_button.h"

namespace trp::test {
namespace {

void Pick(QListWidget* list, const std::string& table) {
    const auto items = list->findItems(QString::fromStdString(table), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << table;
    items.front()->setSelected(true);
}

void PickTable(QListWidget* list, const TableName& table) {
    int found = 0;
    for (int i = 0; i < list->count(); ++i) {
        if (TableNameItem::TableOf(*list->item(i)).table != table) continue;
        list->item(i)->setSelected(true);
        ++found;
    }
    ASSERT_EQ(found, 1) << table.schema << "." << table.name;
}

}  // namespace

void ScreenRunTest::SetUp() {
    AppendTest::SetUp();
    ASSERT_TRUE(folder_.isValid());
    store_ = std::make_unique<ProfileStore>(folder_.filePath("Kestrelby.conf"));
    screens_ = std::make_unique<Screens>(*store_);
    FillProfileFields(ConnectionScreen(), UserProfile(db1_), UserProfile(db2_));
    MessageBox::SetRecorder([this](const MessageBox::Shown& shown) {
        shown_.push_back(shown);
        if (shown.offers_stop) {
            ++row_reports_;
            if (row_reports_ == stop_at_row_report_)
                MessageBox::SetNextChoice(MessageBox::Choice::StopAppending);
            if (row_reports_ == ignore_all_at_row_report_)
                MessageBox::SetNextChoice(MessageBox::Choice::IgnoreAll);
        }
        if (show_refused_rows_ && shown.buttons.contains("Show Refused Rows"))
            MessageBox::SetNextChoice(MessageBox::Choice::ShowRefusedRows);
    });
    MessageBox::SetUrlOpener([this](const QUrl& url) {
        opened_.push_back(url);
        return true;
    });
}

void ScreenRunTest::TearDown() {
    MessageBox::SetRecorder({});
    MessageBox::SetUrlOpener({});
    MessageBox::SetNextChoice(MessageBox::Choice::Ok);
    ResetProgramEnding();
}

void ScreenRunTest::SetProfiles(const Profile& profile1, const Profile& profile2) {
    FillProfileFields(ConnectionScreen(), profile1, profile2);
}

void ScreenRunTest::Press(const std::string& table1, const std::string& table2, bool option1) {
    PressPicked([&](QListWidget* list, int which) { Pick(list, which == 1 ? table1 : table2); },
                option1);
}

void ScreenRunTest::PressTables(const TableName& table1, const TableName& table2, bool option1) {
    PressPicked(
        [&](QListWidget* list, int which) { PickTable(list, which == 1 ? table1 : table2); },
        option1);
}

void ScreenRunTest::PressPicked(const std::function<void(QListWidget*, int)>& pick, bool option1) {
    Screen().Form_Load();
    pick(Control<QListWidget>(Screen(), "List1"), 1);
    pick(Control<QListWidget>(Screen(), "List2"), 2);
    Control<QRadioButton>(Screen(), option1 ? "Option1" : "Option2")->setChecked(true);
    shown_.clear();
    row_reports_ = 0;
    highest_percent_ = 0;
    auto* bar = Control<ProgressBar>(Screen(), "ProgressBar1");
    const auto watch = QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, bar] {
        highest_percent_ = std::max(highest_percent_, bar->percent());
    });
    Screen().show();
    Control<PushButton>(Screen(), "PushButton2")->click();
    QObject::disconnect(watch);
}

void ScreenRunTest::AtPercent(double percent, std::function<void(double)> fault) {
    auto* bar = Control<ProgressBar>(Screen(), "ProgressBar1");
    auto done = std::make_shared<bool>(false);
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [bar, percent, done, fault = std::move(fault)] {
                         if (*done || bar->percent() < percent) return;
                         *done = true;
                         fault(bar->percent());
                     });
}

QStringList ScreenRunTest::Reports() const {
    QStringList reports;
    for (const auto& shown : shown_)
        if (shown.title == "Application Error") reports << shown.text;
    return reports;
}

QStringList ScreenRunTest::Messages() const {
    QStringList messages;
    for (const auto& shown : shown_)
        if (shown.title != "Application Error") messages << shown.text;
    return messages;
}

::testing::AssertionResult NoDoubles(const Profile& profile, const std::string& table) {
    const Rows rows = QueryRows(profile, "SELECT count(*) - count(DISTINCT id) FROM " + table);
    if (rows.at(0).at(0) == "0") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << *rows.at(0).at(0) << " rows of " << table << " arrived twice";
}

}  // namespace trp::test
