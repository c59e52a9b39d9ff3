// The table selection screen's handlers: its load and list fills, the same-database marking,
// its two push buttons and its close box.
#include <QCloseEvent>
#include <QGroupBox>
#include <QListWidget>
#include <QRadioButton>

#include "append/append_operation.h"
#include "base/activity.h"
#include "base/error_report.h"
#include "base/error_trap.h"
#include "base/product_name.h"
#include "base/program_end.h"
#include "catalogue/table_listing.h"
#include "ui/form2.h"
#include "ui/form_colors.h"
#include "ui/hand_cursor.h"
#include "ui/list_widget_target.h"
#include "ui/pointer_state.h"
#include "ui/run_presence.h"
#include "ui/screen_host.h"
#include "ui/title_and_icon.h"

namespace trp {
namespace {

// The selected item's table, or nothing when no item is selected.
std::optional<ListedTable> SelectedTable(const QListWidget& list) {
    const QList<QListWidgetItem*> selected = list.selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    return TableNameItem::TableOf(*selected.front());
}

}  // namespace

void Form2::Form_Load() {
    ErrorTrap trap(LocationText("Form2", "Form_Load"), *host_);
    trap.Step(100, [&] { SetFormColors(*this); });
    trap.Step(102, [&] { setWindowIcon(ApplicationIcon()); });
    const QString cursor_path = HandCursorPath();
    if (trap.Test(106, [&] { return FileExists(cursor_path); }))
        trap.Step(108, [&] { pointer_->SetCustomImage(LoadCursorFile(cursor_path)); });
    trap.Step(110, [&] { setWindowTitle(QString::fromUtf8(kProductName)); });
    // Each listing reports its own failures and returns normally.
    trap.Step(112, [&] { FillList1(); });
    trap.Step(114, [&] { FillList2(); });
}

void Form2::FillList1() {
    ListWidgetTarget target(*List1);
    AddTablesToPostgreSQLListbox(target, profiles_, *host_);
}

void Form2::FillList2() {
    ListWidgetTarget target(*List2);
    AddTablesToPostgreSQLListbox2(target, profiles_, *host_);
}

void Form2::MarkSameDatabase(ErrorTrap& trap, int first_line) {
    // Exact comparison of all five pairs: letter case and blanks count.
    if (trap.Test(first_line, [&] { return profiles_.Profile1() == profiles_.Profile2(); })) {
        trap.Step(first_line + 2, [&] { Option1->setEnabled(false); });
        trap.Step(first_line + 4, [&] { Option2->setEnabled(false); });
        trap.Step(first_line + 6,
                  [&] { Frame3->setTitle(QStringLiteral("PostgreSQL Database #1 (same file)")); });
        trap.Step(first_line + 8,
                  [&] { Frame1->setTitle(QStringLiteral("PostgreSQL Database #2 (same file)")); });
    } else {
        trap.Step(first_line + 10, [&] { Option1->setEnabled(true); });
        trap.Step(first_line + 12, [&] { Option2->setEnabled(true); });
        trap.Step(first_line + 14,
                  [&] { Frame3->setTitle(QStringLiteral("PostgreSQL Database #1")); });
        trap.Step(first_line + 16,
                  [&] { Frame1->setTitle(QStringLiteral("PostgreSQL Database #2")); });
    }
}

bool Form2::Appending() const {
    return ActivityScope::Running(Activity::Append);
}

void Form2::PushButton2_Click() {
    const ActivityScope appending(Activity::Append);

    // The run keeps what the screens show now, whatever the user changes while it goes on.
    AppendRequest request;
    request.table1 = SelectedTable(*List1);
    request.table2 = SelectedTable(*List2);
    request.option1 = Option1->isChecked();
    request.profile1 = profiles_.Profile1();
    request.profile2 = profiles_.Profile2();
    // A run shows itself beyond the bar once there is one; Option1: into the List1 table.
    std::optional<RunPresence::Scope> presence;
    if (request.table1 && request.table2)
        presence.emplace(
            *presence_,
            QString::fromStdString((request.option1 ? request.table1 : request.table2)->text));
    RunAppend(request, *host_);
}

void Form2::PushButton5_Click() {
    ErrorTrap trap(LocationText("Form2", "PushButton5_Click"), *host_);
    trap.Step(100, [&] { navigator_.ShowConnectionScreen(); });
    // Hidden only: the lists, their selections and the direction stay as they are.
    trap.Step(102, [&] { hide(); });
}

void Form2::closeEvent(QCloseEvent* event) {
    // Closing this screen ends the program, also while an append runs (it stops at its next row).
    EndProgram();
    event->accept();
}

}  // namespace trp
