// The steps before the rows (connecting, the probes, the column counts), and the connection
// screen's tests and "Next >", keep the screens alive while a server does not answer: closing the
// window ends the program within the pacer's grace, not after the connection time-out.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <iostream>

#include "base/program_end.h"
#include "screen_run.h"
#include "support/controls.h"
#include "support/loopback_port.h"
#include "ui/push_button.h"

namespace trp {
namespace {

using test::Control;

class StepsBeforeRowsTest : public test::ScreenRunTest {
protected:
    // A profile of a server that accepts connections and never says a word.
    Profile Silent() const {
        Profile silent = UserProfile(db1_);
        silent.port = silent_.Port();
        return silent;
    }
    // Closes `window` after `delay_ms`, counting meanwhile how often events were processed
    // (a timer that fires every 50 ms); returns when `press` returns, with the milliseconds
    // from the close to then.
    qint64 CloseDuring(QWidget& window, int delay_ms, const std::function<void()>& press) {
        QTimer ticking;
        QObject::connect(&ticking, &QTimer::timeout, [this] { ++ticks_; });
        ticking.start(50);
        QElapsedTimer since_close;
        QTimer::singleShot(delay_ms, &window, [&] {
            ticks_at_close_ = ticks_;
            window.close();
            since_close.start();
        });
        press();
        const qint64 ended_ms = since_close.isValid() ? since_close.elapsed() : -1;
        std::cout << "ended " << ended_ms << " ms after the window was closed\n";
        return ended_ms;
    }

    test::LoopbackPort silent_;
    int ticks_ = 0;
    int ticks_at_close_ = 0;
};

TEST_F(StepsBeforeRowsTest, AnUnansweringDestinationAtStartAppendingLetsTheWindowClose) {
    Exec(db2_, "CREATE TABLE src (id int); INSERT INTO src VALUES (1)");
    Exec(db1_, "CREATE TABLE dst (id int)");
    // The lists come from the servers as they answer now; then the destination goes silent.
    Screen().Form_Load();
    SetProfiles(Silent(), UserProfile(db2_));
    auto* list1 = Control<QListWidget>(Screen(), "List1");
    auto* list2 = Control<QListWidget>(Screen(), "List2");
    const qint64 ended_ms = CloseDuring(Screen(), 5000, [&] {
        list1->addItem("dst");
        list1->item(list1->count() - 1)->setSelected(true);
        list2->findItems("src", Qt::MatchExactly).front()->setSelected(true);
        Control<PushButton>(Screen(), "PushButton2")->click();
    });
    ASSERT_GE(ended_ms, 0) << "the run ended before the window was closed";
    EXPECT_LT(ended_ms, 10000);      // the grace is 3 s; the connection time-out would be 5,000 s
    EXPECT_GT(ticks_at_close_, 50);  // the window processed its events all along
    EXPECT_TRUE(shown_.empty()) << shown_.front().text.toStdString();
    EXPECT_TRUE(ProgramEnding());
}

TEST_F(StepsBeforeRowsTest, TestConnectionAndNextLetTheWindowCloseWhileTheyConnect) {
    for (const char* button : {"PushButton3", "PushButton2"}) {
        ResetProgramEnding();
        ConnectionScreen().show();
        SetProfiles(Silent(), Silent());
        shown_.clear();
        ticks_ = 0;
        const qint64 ended_ms = CloseDuring(ConnectionScreen(), 2000, [&] {
            Control<PushButton>(ConnectionScreen(), button)->click();
        });
        ASSERT_GE(ended_ms, 0) << button;
        EXPECT_LT(ended_ms, 10000) << button;  // not the 15 s of the connection time-out
        EXPECT_GT(ticks_at_close_, 20) << button;
        EXPECT_TRUE(shown_.empty()) << button << ": " << shown_.front().text.toStdString();
    }
}

}  // namespace
}  // namespace trp
