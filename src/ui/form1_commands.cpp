// The commands of the connection screen: the connection tests, "Next >", "Help" and the link.
#include <QDesktopServices>
#include <QUrl>
#include <stdexcept>

#include "base/activity.h"
#include "base/error_trap.h"
#include "catalogue/connection_probe.h"
#include "catalogue/event_pacer.h"
#include "catalogue/passing_step.h"
#include "ui/form1.h"
#include "ui/message_box.h"
#include "ui/navigator.h"
#include "ui/screen_host.h"

namespace trp {
namespace {

constexpr const char* kHelpFirst = "If you can not connect, please try downloading pgAdmin III. ";
constexpr const char* kHelpSecond =
    "If you can not connect with that software, you know the login information you are providing "
    "here is incorrect.";

QString ComposeHelp(const QString& first, const QString& second, const QString& address) {
    return first + second + QStringLiteral("\r\n\r\n") + address;
}

}  // namespace

void Form1::PushButton3_Click() {
    TestConnection(Profile1(), LocationText("Form1", "PushButton3_Click"), *host_);
}

void Form1::PushButton6_Click() {
    TestConnection(Profile2(), LocationText("Form1", "PushButton6_Click"), *host_);
}

void Form1::PushButton2_Click() {
    ErrorTrap trap(LocationText("Form1", "PushButton2_Click"), *host_);
    {
        // The screen stays alive while the probes connect; once the program is ending, the
        // command ends without a word.
        const ActivityScope probing(Activity::Probing);
        EventPacer pacer(*host_);
        try {
            if (!TestPassing<WaitAbandoned>(
                    trap, 100, [&] { return CheckPostgreSQLConnection(Profile1(), &pacer); })) {
                trap.Step(130,
                          [&] { host_->ShowMessage("Database #1 does not appear to be valid."); });
                return;
            }
            if (!TestPassing<WaitAbandoned>(
                    trap, 102, [&] { return CheckPostgreSQLConnection2(Profile2(), &pacer); })) {
                trap.Step(128,
                          [&] { host_->ShowMessage("Database #2 does not appear to be valid."); });
                return;
            }
        } catch (const WaitAbandoned&) {
            return;
        }
    }
    trap.Step(104, [&] { navigator_.TableSelectionScreen().Show(); });
    trap.Step(106, [&] { hide(); });
    // Refills both lists from the profiles as they are now.
    trap.Step(108, [&] { navigator_.TableSelectionScreen().Form_Load(); });
    navigator_.TableSelectionScreen().MarkSameDatabase(trap, 110);
}

void Form1::ShowHelp(const char* procedure) {
    ErrorTrap trap(LocationText("Form1", procedure), *host_);
    QString first, second, address;
    trap.Step(100, [&] { first = QString::fromLatin1(kHelpFirst); });
    trap.Step(102, [&] { second = QString::fromLatin1(kHelpSecond); });
    trap.Step(104, [&] { address = QString::fromLatin1(kPgAdminDownload); });
    trap.Step(106, [&] { host_->ShowMessage(ComposeHelp(first, second, address).toStdString()); });
}

void Form1::PushButton5_Click() {
    ShowHelp("PushButton5_Click");
}
void Form1::PushButton1_Click() {
    ShowHelp("PushButton1_Click");
}

void Form1::PushButton4_Click() {
    ErrorTrap trap(LocationText("Form1", "PushButton4_Click"), *host_);
    trap.Step(100, [&] {
        const QString address = QString::fromLatin1(kLinkAddress);
        if (!QDesktopServices::openUrl(QUrl(address)))
            throw std::runtime_error("The web browser could not be started for " +
                                     address.toStdString());
    });
}

}  // namespace trp
