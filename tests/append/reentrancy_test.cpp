// Presses while a listing or an append processes events: ignored when they would start the same
// or a conflicting operation, so no list is filled twice and no run runs inside another.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QTimer>
#include <map>

#include "base/activity.h"
#include "screen_run.h"
#include "support/event_loop_relay.h"
#include "ui/push_button.h"

namespace trp {
namespace {

PushButton* Button(QWidget& screen, const char* name) {
    return screen.findChild<PushButton*>(QString::fromLatin1(name));
}

std::map<QString, int> Names(QWidget& screen, const char* list_name) {
    std::map<QString, int> names;
    const auto* list = screen.findChild<QListWidget*>(QString::fromLatin1(list_name));
    for (int i = 0; i < list->count(); ++i) ++names[list->item(i)->text()];
    return names;
}

class ReentrancyTest : public test::ScreenRunTest {};

TEST_F(ReentrancyTest, PressesDuringAListRefillAreIgnoredAndEveryNameIsListedOnce) {
    for (const char* table : {"alpha", "beta", "gamma", "delta"})
        Exec(db1_, std::string("CREATE TABLE ") + table + " (id int)");
    Exec(db2_, "CREATE TABLE omega (id int)");
    // Database #1 answers through a relay that needs the event loop, so that both steps surely
    // process events, however fast the server is.
    test::EventLoopRelay relay(std::stoi(UserProfile(db1_).port));
    Profile through_relay = UserProfile(db1_);
    through_relay.port = relay.Port();
    SetProfiles(through_relay, UserProfile(db2_));
    Form1& form1 = ConnectionScreen();
    bool pressed_during_probing = false;
    bool pressed_during_listing = false;
    // While "Next >" connects and while the refill lists, both processing events, the user
    // presses everything that would start something.
    QTimer presses;
    QObject::connect(&presses, &QTimer::timeout, [&] {
        bool& pressed = ActivityScope::Running(Activity::Listing) ? pressed_during_listing
                                                                  : pressed_during_probing;
        if (pressed || !ActivityScope::AnyRunning()) return;
        pressed = true;
        Button(form1, "PushButton2")->click();     // Next >
        Button(form1, "PushButton3")->click();     // Test Connection
        Button(form1, "PushButton5")->click();     // Help
        Button(Screen(), "PushButton2")->click();  // Start Appending
        Button(Screen(), "PushButton5")->click();  // Switch PostgreSQL DB
    });
    presses.start(0);
    Button(form1, "PushButton2")->click();
    presses.stop();
    EXPECT_TRUE(pressed_during_probing);
    EXPECT_TRUE(pressed_during_listing);
    EXPECT_TRUE(shown_.empty());
    EXPECT_TRUE(Screen().isVisible());
    EXPECT_FALSE(form1.isVisible());
    for (const char* list : {"List1", "List2"})
        for (const auto& [name, count] : Names(Screen(), list))
            EXPECT_EQ(count, 1) << name.toStdString();
    EXPECT_EQ(Names(Screen(), "List1").count("alpha"), 1u);
}

TEST_F(ReentrancyTest, DuringAnAppendOnlyLeavingTheScreenWorks) {
    Exec(db2_, "CREATE TABLE src (id int); INSERT INTO src SELECT generate_series(1, 100000)");
    Exec(db1_, "CREATE TABLE dst (id int)");
    int presses = 0;
    AtPercent(20, [&](double) {
        ++presses;
        EXPECT_TRUE(ActivityScope::Running(Activity::Append));
        Button(Screen(), "PushButton2")->click();            // a second Start Appending
        Button(ConnectionScreen(), "PushButton2")->click();  // Next > on the connection screen
        Button(Screen(), "PushButton5")->click();            // Switch PostgreSQL DB
    });
    Press("dst", "src");
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(Messages(), QStringList{"Done."});
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "100000");
    // Leaving the screen worked; nothing else started: "Next >" would have refilled the lists,
    // losing the tables picked for the run.
    EXPECT_FALSE(Screen().isVisible());
    EXPECT_TRUE(ConnectionScreen().isVisible());
    for (const char* list : {"List1", "List2"})
        EXPECT_EQ(Screen().findChild<QListWidget*>(list)->selectedItems().size(), 1) << list;
}

}  // namespace
}  // namespace trp
