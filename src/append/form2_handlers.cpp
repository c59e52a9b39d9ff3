// The table selection screen's handlers: its load, its two push buttons and its close box.
#include <QCloseEvent>
#include <QListWidget>
#include <QRadioButton>

#include "app/activity.h"
#include "app/error_report.h"
#include "app/error_trap.h"
#include "app/form_colors.h"
#include "app/hand_cursor.h"
#include "app/pointer_state.h"
#include "app/product_name.h"
#include "app/program_end.h"
#include "app/screen_host.h"
#include "append/append_operation.h"
#include "append/form2.h"
#include "catalogue/table_listboxes.h"
#include "connection/form1.h"

namespace trp {
namespace {

// The selected item's text, or nothing when no item is selected.
std::optional<std::string> SelectedTable(const QListWidget& list) {
    const QList<QListWidgetItem*> selected = list.selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    return selected.front()->text().toStdString();
}

}  // namespace

void Form2::Form_Load() {
    ErrorTrap trap(LocationText("Form2", "Form_Load"), *host_);
    trap.Step(100, [&] { SetFormColors(*this); });
    // The icon the connection screen shows (the application's icon unless it was given another).
    trap.Step(102, [&] { setWindowIcon(form1_.windowIcon()); });
    const QString cursor_path = HandCursorPath();
    if (trap.Test(106, [&] { return FileExists(cursor_path); }))
        trap.Step(108, [&] { pointer_->SetCustomImage(LoadCursorFile(cursor_path)); });
    trap.Step(110, [&] { setWindowTitle(QString::fromUtf8(kProductName)); });
    // Each listing reports its own failures and returns normally.
    trap.Step(112, [&] { AddTablesToPostgreSQLListbox(*List1, form1_, *host_); });
    trap.Step(114, [&] { AddTablesToPostgreSQLListbox2(*List2, form1_, *host_); });
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
    request.profile1 = form1_.Profile1();
    request.profile2 = form1_.Profile2();
    RunAppend(request, *host_);
}

void Form2::PushButton5_Click() {
    ErrorTrap trap(LocationText("Form2", "PushButton5_Click"), *host_);
    trap.Step(100, [&] { form1_.show(); });
    // Hidden only: the lists, their selections and the direction stay as they are.
    trap.Step(102, [&] { hide(); });
}

void Form2::closeEvent(QCloseEvent* event) {
    // Closing this screen ends the program, also while an append runs (it stops at its next row).
    EndProgram();
    event->accept();
}

}  // namespace trp
