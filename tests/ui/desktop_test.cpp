// What the desktop hears of a run: the session bus through a daemon and a recorder of the
// test's own, and the screen's title through the host the engine talks to.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QToolTip>
#include <QUuid>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "base/product_name.h"
#include "support/desktop_recorder.h"
#include "ui/desktop_bus.h"
#include "ui/pointer_state.h"
#include "ui/progress_bar.h"
#include "ui/run_presence.h"
#include "ui/screen_desktop.h"
#include "ui/screen_host.h"

namespace trp {
namespace {

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
    const QDeadlineTimer deadline(milliseconds);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

class DesktopBusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus_.Address().isEmpty()) << "no dbus-daemon"; }
    // The program's own connection to the bus.
    QDBusConnection Program() {
        return QDBusConnection::connectToBus(bus_.Address(),
                                             "program-" + QUuid::createUuid().toString());
    }

    test::SessionBus bus_;
};

TEST_F(DesktopBusTest, EachNotificationReplacesTheLastAndAClickOnItRaisesTheWindow) {
    test::DesktopRecorder recorder(bus_.Address());
    int raised = 0;
    DesktopBus desktop(Program(), [&] { ++raised; });
    desktop.Notify("A refused row's report waits for an answer", "Table a<b & c, 0:03 so far");
    desktop.Notify("Done.", "Table a<b & c, time taken 0:04");  // before the first one's id came
    ASSERT_TRUE(WaitFor([&] { return recorder.Notifications().size() == 2; }));
    const auto notes = recorder.Notifications();
    EXPECT_EQ(notes[0].app, "Tessaline Row Porter");
    EXPECT_EQ(notes[0].replaces, 0u);
    EXPECT_EQ(notes[0].body, "Table a&lt;b &amp; c, 0:03 so far");
    EXPECT_EQ(notes[0].actions, QStringList({"default", "Show"}));
    EXPECT_EQ(notes[0].map.value("desktop-entry").toString(), kDesktopFileName);
    EXPECT_EQ(notes[1].summary, "Done.");
    EXPECT_EQ(notes[1].replaces, notes[0].id);

    recorder.InvokeAction(notes[1].id + 1, "default");  // another program's notification
    recorder.InvokeAction(notes[1].id, "default");
    ASSERT_TRUE(WaitFor([&] { return raised > 0; }));
    EXPECT_EQ(raised, 1);
}

TEST_F(DesktopBusTest, TheLauncherOfThePackagesDesktopEntryHearsTheProgressWithoutANotifier) {
    test::DesktopRecorder recorder(bus_.Address(), false);
    {
        DesktopBus desktop(Program(), {});
        desktop.ShowLauncher({0.25, true, true});
        desktop.Notify("Done.", "Table t, time taken 0:01");  // nobody serves it: nothing
    }
    ClearLauncher(Program());
    recorder.Settle();
    ASSERT_EQ(recorder.heard.size(), 2u);
    for (const auto& heard : recorder.heard)
        EXPECT_EQ(heard.app, "application://example.kestrelby.TessalineRowPorter.desktop");
    const auto updates = recorder.LauncherUpdates();
    EXPECT_EQ(updates[0],
              QVariantMap({{"progress", 0.25}, {"progress-visible", true}, {"urgent", true}}));
    EXPECT_EQ(updates[1],
              QVariantMap({{"progress", 0.0}, {"progress-visible", false}, {"urgent", false}}));
    // The id names the desktop file the package installs.
    EXPECT_TRUE(QFile::exists(
        QString::fromStdString((std::filesystem::path(__FILE__).parent_path() / "../../resources" /
                                (std::string(kDesktopFileName) + ".desktop"))
                                   .string())));
}

TEST(ScreenDesktop, TheTitleShowsThePercentageOrTheStatusInItsPlaceUntilTheRunEnds) {
    QWidget screen;
    screen.setWindowTitle(kProductName);
    auto* bar = new ProgressBar(&screen);
    PointerState pointer(screen);
    ScreenDesktop desktop(screen, *bar);
    RunPresence presence(desktop);
    ScreenHost host(screen, pointer, bar, &presence);
    {
        const RunPresence::Scope run(presence, "orders");
        host.RowsSettled(0, 8);
        EXPECT_EQ(screen.windowTitle(), "0 % – Tessaline Row Porter Suite");
        EXPECT_EQ(bar->toolTip(), "0 of 8 rows (0.0 %)");
        EXPECT_EQ(bar->accessibleDescription(), bar->toolTip());
        // The tooltip on show follows the run; the last count goes out at once, behind a status.
        QToolTip::showText(QPoint(10, 10), bar->toolTip(), bar);
        host.ShowRunStatus("Reconnecting to database #2 (0:12)");
        host.RowsSettled(8, 8);
        EXPECT_EQ(screen.windowTitle(),
                  "Reconnecting to database #2 (0:12) – Tessaline Row Porter Suite");
        EXPECT_TRUE(QToolTip::text().startsWith("8 of 8 rows (100.0 %)"))
            << QToolTip::text().toStdString();
        host.ShowRunStatus("");
        EXPECT_EQ(screen.windowTitle(), "100 % – Tessaline Row Porter Suite");
        EXPECT_EQ(bar->text(), "Progress Bar");
    }
    // Gone at the end, sooner than it would go by itself.
    EXPECT_TRUE(WaitFor([] { return !QToolTip::isVisible(); }, 2000));
    EXPECT_EQ(screen.windowTitle(), kProductName);
    EXPECT_TRUE(bar->toolTip().isEmpty());
    EXPECT_TRUE(bar->accessibleDescription().isEmpty());
}

}  // namespace
}  // namespace trp
