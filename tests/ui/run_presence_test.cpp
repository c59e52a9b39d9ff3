// How a run shows itself beyond the bar, driven as the screen's host drives it, with a view that
// writes down what it is told and a clock of the test's own.
#include "ui/run_presence.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <utility>

namespace trp {
namespace {

using namespace std::chrono_literals;

class LoggingView : public DesktopView {
public:
    bool WindowActive() const override { return active; }
    void ShowTitleStatus(const QString& status) override { log << "title " + status; }
    void ShowFigures(const QString& figures) override { log << "figures " + figures; }
    void Notify(const QString& summary, const QString& body) override {
        log << "notify " + summary + " | " + body;
    }
    void ShowLauncher(const LauncherState& state) override {
        log << QStringLiteral("launcher %1%2%3")
                   .arg(state.progress)
                   .arg(state.progress_visible ? " shown" : "")
                   .arg(state.urgent ? " urgent" : "");
    }
    // What was told since the last call.
    QStringList Take() { return std::exchange(log, {}); }

    bool active = true;
    QStringList log;
};

class RunPresenceTest : public ::testing::Test {
protected:
    RunPresence::Clock::time_point now_{};
    LoggingView view_;
    RunPresence presence_{view_, [this] { return now_; }};
};

TEST_F(RunPresenceTest, ShowsTheCountAtMostFourTimesASecondAndClearsEverythingAtTheEnd) {
    {
        const RunPresence::Scope run(presence_, "orders");
        EXPECT_TRUE(view_.Take().isEmpty());  // nothing before the rows move
        presence_.RowsSettled(0, 1000);
        EXPECT_EQ(view_.Take(), QStringList({"title 0 %", "figures 0 of 1,000 rows (0.0 %)",
                                             "launcher 0 shown"}));
        now_ += 100ms;
        presence_.RowsSettled(100, 1000);
        now_ += 100ms;
        presence_.Tick();
        EXPECT_TRUE(view_.Take().isEmpty());
        now_ += 50ms;
        presence_.Tick();
        EXPECT_EQ(
            view_.Take(),
            QStringList({"title 10 %", "figures 100 of 1,000 rows (10.0 %), 400 rows/s, 0:03 left",
                         "launcher 0.1 shown"}));
        // The last count goes out at once.
        now_ += 10ms;
        presence_.RowsSettled(1000, 1000);
        EXPECT_EQ(view_.Take(),
                  QStringList({"title 100 %",
                               "figures 1,000 of 1,000 rows (100.0 %), 3,846 rows/s, 0:00 left",
                               "launcher 1 shown"}));
    }
    EXPECT_EQ(view_.Take(), QStringList({"title ", "figures ", "launcher 0"}));
    presence_.RowsSettled(5, 10);  // no run: nothing
    EXPECT_TRUE(view_.Take().isEmpty());
}

TEST_F(RunPresenceTest, TellsAUserInAnotherWindowOncePerWaitAndAtTheEnd) {
    struct Case {
        bool active;
        QStringList told;
    };
    const QString waits =
        "notify A refused row's report waits for an answer | Table "
        "\"Q 1\".\"T\", 0:05 so far";
    const Case cases[] = {
        {true, {"launcher 0 shown", "launcher 0.5 shown", "launcher 0"}},
        {false,
         {"launcher 0 shown", waits, "launcher 0 shown urgent", "launcher 0 shown",
          // The second box: the user has not been back in between.
          "launcher 0 shown urgent", "launcher 0 shown",
          // Back in the window, then away again: the next box is told.
          "launcher 0.5 shown",
          "notify A failure's report waits for an answer | Table "
          "\"Q 1\".\"T\", 0:10 so far",
          "launcher 0.5 shown urgent", "launcher 0.5 shown",
          "notify Done. | Table \"Q 1\".\"T\", time taken 0:12", "launcher 0 urgent",
          "launcher 0"}},
    };
    for (const Case& c : cases) {
        view_.active = c.active;
        {
            const RunPresence::Scope run(presence_, R"("Q 1"."T")");
            presence_.RowsSettled(0, 10);
            now_ += 5s;
            for (int box = 0; box < 2; ++box) {
                presence_.Waits(Waiting::RefusedRow);
                presence_.Answered();
            }
            presence_.WindowActivated();
            now_ += 5s;
            presence_.RowsSettled(5, 10);
            presence_.Waits(Waiting::Failure);
            presence_.Answered();
            now_ += 2s;
            presence_.Ends("Done.");
            presence_.Answered();
        }
        EXPECT_EQ(view_.Take().filter(QRegularExpression("^(notify|launcher)")), c.told)
            << "active " << c.active;
    }
}

}  // namespace
}  // namespace trp
