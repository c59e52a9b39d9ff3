// The commands of the connection screen: the connection tests, "Next >", "Help" and the link.
#include <QDesktopServices>
#include <QGroupBox>
#include <QRadioButton>
#include <QUrl>
#include <stdexcept>

#include "base/error_trap.h"
#include "catalogue/connection_probe.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/message_box.h"
#include "ui/screen_host.h"

namespace trp {
namespace {

// A control that does not exist fails its step, as a missing object would.
template <typename T>
T& Control(T* control) {
    if (!control) throw std::runtime_error("Object variable or With block variable not set");
    return *control;
}

constexpr const char* kHelpFirst = "If you can not connect, please try downloading pgAdmin III. ";
constexpr const char* kHelpSecond =
    "If you can not connect with that software, you know the login information you are providing "
    "here is incorrect.";

QString ComposeHelp(const QString& first, const QString& second, const QString& address) {
    return first + second + QStringLiteral("\r\n\r\n") + address;
}

}  // namespace

QString HelpText() {
    return ComposeHelp(QString::fromLatin1(kHelpFirst), QString::fromLatin1(kHelpSecond),
                       QString::fromLatin1(kPgAdminDownload));
}

void MarkSameDatabase(ErrorTrap& trap, int first_line, const Profile& profile1,
                      const Profile& profile2, QWidget* option1, QWidget* option2,
                      QGroupBox* frame3, QGroupBox* frame1) {
    // Exact comparison of all five pairs: letter case and blanks count.
    if (trap.Test(first_line, [&] { return profile1 == profile2; })) {
        trap.Step(first_line + 2, [&] { Control(option1).setEnabled(false); });
        trap.Step(first_line + 4, [&] { Control(option2).setEnabled(false); });
        trap.Step(first_line + 6, [&] {
            Control(frame3).setTitle(QStringLiteral("PostgreSQL Database #1 (same file)"));
        });
        trap.Step(first_line + 8, [&] {
            Control(frame1).setTitle(QStringLiteral("PostgreSQL Database #2 (same file)"));
        });
    } else {
        trap.Step(first_line + 10, [&] { Control(option1).setEnabled(true); });
        trap.Step(first_line + 12, [&] { Control(option2).setEnabled(true); });
        trap.Step(first_line + 14,
                  [&] { Control(frame3).setTitle(QStringLiteral("PostgreSQL Database #1")); });
        trap.Step(first_line + 16,
                  [&] { Control(frame1).setTitle(QStringLiteral("PostgreSQL Database #2")); });
    }
}

void Form1::MarkForm2(ErrorTrap& trap, int first_line) {
    Form2* screen = form2_.get();
    MarkSameDatabase(trap, first_line, Profile1(), Profile2(), screen ? screen->Option1 : nullptr,
                     screen ? screen->Option2 : nullptr, screen ? screen->Frame3 : nullptr,
                     screen ? screen->Frame1 : nullptr);
}

void Form1::PushButton3_Click() {
    TestConnection(Profile1(), LocationText("Form1", "PushButton3_Click"), *host_);
}

void Form1::PushButton6_Click() {
    TestConnection(Profile2(), LocationText("Form1", "PushButton6_Click"), *host_);
}

void Form1::PushButton2_Click() {
    ErrorTrap trap(LocationText("Form1", "PushButton2_Click"), *host_);
    if (!trap.Test(100, [&] { return CheckPostgreSQLConnection(Profile1()); })) {
        trap.Step(130, [&] { host_->ShowMessage("Database #1 does not appear to be valid."); });
        return;
    }
    if (!trap.Test(102, [&] { return CheckPostgreSQLConnection2(Profile2()); })) {
        trap.Step(128, [&] { host_->ShowMessage("Database #2 does not appear to be valid."); });
        return;
    }
    trap.Step(104, [&] { form2().show(); });
    trap.Step(106, [&] { hide(); });
    // Refills both lists from the profiles as they are now.
    trap.Step(108, [&] { form2().Form_Load(); });
    MarkForm2(trap, 110);
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
