// Start-up of the application, which is the load of the connection screen, and its unload.
#include <QCloseEvent>
#include <QLineEdit>

#include "base/activity.h"
#include "base/error_trap.h"
#include "base/program_end.h"
#include "catalogue/connection_probe.h"
#include "catalogue/event_pacer.h"
#include "catalogue/passing_step.h"
#include "settings/profile_store.h"
#include "ui/form1.h"
#include "ui/navigator.h"
#include "ui/pointer_state.h"
#include "ui/screen_host.h"
#include "ui/skin_engine.h"
#include "ui/title_and_icon.h"

namespace trp {

void Form1::Form_Load() {
    ErrorTrap trap(LocationText("Form1", "Form_Load"), *host_);

    trap.Step(100, [&] { ApplySkin(*this, *skin_, ApplicationFolder()); });
    trap.Step(104, [&] { setWindowTitle(QString::fromUtf8(kProductName)); });
    trap.Step(104, [&] { setWindowIcon(ApplicationIcon()); });
    trap.Step(104, [&] { SetAppTitle(); });

    if (trap.Test(124, [&] { return FileExists(HandCursorPath()); })) {
        trap.Step(126, [&] { pointer_->SetCustomImage(LoadCursorFile(HandCursorPath())); });
    }

    // Each fill is a change of the field and so is written straight back to the store.
    const auto fill = [&](int line, QLineEdit* field, const char* key, const char* absent) {
        trap.Step(line, [&] {
            field->setText(store_.Get(QString::fromLatin1(key), QString::fromLatin1(absent)));
        });
    };
    fill(128, Text1, "Server", "localhost");
    fill(130, Text2, "Port", "5432");
    fill(132, Text3, "User", "");
    fill(134, Text4, "Password", "");
    fill(136, Text5, "Database", "");
    fill(138, Text6, "Server2", "localhost");
    fill(140, Text7, "Port2", "5432");
    fill(142, Text8, "User2", "");
    fill(144, Text9, "Password2", "");
    fill(146, Text10, "Database2", "");

    AutoAdvance(trap);
}

// A returning user whose two databases both answer starts on the table selection screen.
// Nothing is shown when either does not: the caller then shows this screen.
void Form1::AutoAdvance(ErrorTrap& trap) {
    {
        // A termination signal is still heard while the probes connect.
        const ActivityScope probing(Activity::Probing);
        EventPacer pacer(*host_);
        try {
            if (!TestPassing<WaitAbandoned>(
                    trap, 148, [&] { return CheckPostgreSQLConnection(Profile1(), &pacer); }))
                return;
            if (!TestPassing<WaitAbandoned>(
                    trap, 150, [&] { return CheckPostgreSQLConnection2(Profile2(), &pacer); }))
                return;
        } catch (const WaitAbandoned&) {
            return;
        }
    }
    // The first use makes the table selection screen, whose own load reads both lists once
    // already; each fill replaces a list's content, so the lists hold one copy of each name.
    trap.Step(152, [&] { navigator_.TableSelectionScreen().FillList1(); });
    trap.Step(154, [&] { navigator_.TableSelectionScreen().FillList2(); });
    trap.Step(156, [&] { navigator_.TableSelectionScreen().Show(); });
    trap.Step(158, [&] { hide(); });
    navigator_.TableSelectionScreen().MarkSameDatabase(trap, 160);
}

// Form_Unload: closing the connection screen ends the program, whatever else is open.
void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    EndProgram();
}

}  // namespace trp
