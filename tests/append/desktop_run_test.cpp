// Runs through the real screens in a child process whose session bus is a daemon of the test's
// own: what the desktop hears with the window inactive and active, and that a run without any
// bus, and the append command, go as ever and send nothing.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>

#include "append_test_support.h"
#include "screen_run.h"
#include "support/command_run.h"
#include "support/controls.h"
#include "support/desktop_recorder.h"
#include "ui/progress_bar.h"

namespace trp {
namespace {

const QVariantMap kCleared{{"progress", 0.0}, {"progress-visible", false}, {"urgent", false}};

class DesktopRunTest : public test::AppendTest {
protected:
    struct Shown {
        QStringList boxes;  // "box <text>", one a box
        QString errors;
    };

    void SetUp() override {
        AppendTest::SetUp();
        ASSERT_TRUE(folder_.isValid());
        ASSERT_FALSE(bus_.Address().isEmpty()) << "no dbus-daemon";
        Exec(db2_, "CREATE TABLE src (id int PRIMARY KEY, name text)");
        Exec(db2_, "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 3000) g");
        Exec(db1_, "CREATE TABLE dst (id int PRIMARY KEY, name text)");
        settings_ = folder_.filePath("Kestrelby.conf");
        test::SaveProfiles(settings_, UserProfile(db1_), UserProfile(db2_));
    }

    // dst with one row that src's row 7 runs into.
    void ResetDestination() { Exec(db1_, "TRUNCATE dst; INSERT INTO dst VALUES (7, 'here')"); }

    // The screen's append of src into dst, in a child whose session bus is at `address`; the
    // recorder, if any, answers meanwhile and has heard everything once this returns.
    Shown RunScreen(const QString& window, const QString& address,
                    test::DesktopRecorder* recorder) {
        ResetDestination();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        child.setProcessEnvironment(environment);
        QEventLoop loop;
        QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        child.start(TRP_APPEND_RUN_CHILD, {settings_, "dst", "src", window});
        if (child.waitForStarted(30000)) loop.exec();
        EXPECT_EQ(child.state(), QProcess::NotRunning);
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
        if (recorder) recorder->Settle();
        const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "3000");
        return {lines.filter(QRegularExpression("^(box |not activated)")),
                QString::fromLocal8Bit(child.readAllStandardError())};
    }

    QTemporaryDir folder_;
    QString settings_;
    test::SessionBus bus_;
};

TEST_F(DesktopRunTest, AUserElsewhereHearsOfTheReportAndTheEndAndTheLauncherOfTheProgress) {
    for (const QString window : {"inactive", "active"}) {
        SCOPED_TRACE(window.toStdString());
        test::DesktopRecorder recorder(bus_.Address());
        const Shown shown = RunScreen(window, bus_.Address(), &recorder);
        ASSERT_EQ(shown.boxes.size(), 2) << shown.boxes.join('\n').toStdString();
        EXPECT_EQ(shown.boxes.last(), "box Done.");

        const auto notes = recorder.Notifications();
        if (window == "active") {
            EXPECT_TRUE(notes.empty());
        } else {
            ASSERT_EQ(notes.size(), 2u);
            EXPECT_EQ(notes[0].summary, "A refused row's report waits for an answer");
            EXPECT_EQ(notes[1].summary, "Done.");
            EXPECT_EQ(notes[1].replaces, notes[0].id);
            EXPECT_TRUE(QRegularExpression("^Table dst, time taken \\d+:\\d\\d$")
                            .match(notes[1].body)
                            .hasMatch())
                << notes[1].body.toStdString();
            // The report's notification comes with the urgent mark.
            const auto report = std::find_if(recorder.heard.begin(), recorder.heard.end(),
                                             [](const auto& heard) { return heard.notify; });
            ASSERT_LT(report + 1, recorder.heard.end());
            EXPECT_TRUE(report[1].map.value("urgent").toBool());
        }

        // Cleared at start-up, the progress rising to 1, then cleared again.
        const auto updates = recorder.LauncherUpdates();
        ASSERT_GE(updates.size(), 3u);
        EXPECT_EQ(updates.front(), kCleared);
        EXPECT_EQ(updates.back(), kCleared);
        double progress = 0;
        for (const QVariantMap& update : updates) {
            if (!update.value("progress-visible").toBool()) continue;
            EXPECT_GE(update.value("progress").toDouble(), progress);
            progress = update.value("progress").toDouble();
        }
        EXPECT_EQ(progress, 1.0);
    }
}

TEST_F(DesktopRunTest, WithoutABusTheRunIsTheSameAndTheAppendCommandSendsNothingToOne) {
    test::DesktopRecorder recorder(bus_.Address());
    const Shown with_bus = RunScreen("inactive", bus_.Address(), &recorder);
    const Shown without = RunScreen("inactive", "unix:path=" + folder_.filePath("no-bus"), nullptr);
    EXPECT_EQ(without.boxes, with_bus.boxes);
    EXPECT_FALSE(without.errors.contains(
        QRegularExpression("d-?bus", QRegularExpression::CaseInsensitiveOption)))
        << without.errors.toStdString();

    recorder.heard.clear();
    ResetDestination();
    QProcessEnvironment environment = test::HeadlessEnvironment(folder_.path());
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus_.Address());
    const test::ProgramResult result = test::RunProgram(
        TRP_PROGRAM_FILE, {"append", "--to", "1", "--settings", settings_, "src", "dst"},
        environment);
    EXPECT_EQ(result.exit_code, 1) << result.errors.toStdString();  // the one refused row
    recorder.Settle();
    EXPECT_TRUE(recorder.heard.empty());
}

using RunFiguresTest = test::ScreenRunTest;

TEST_F(RunFiguresTest, AtTheLastBoxTitleAndTooltipGiveTheFiguresThenTheirOwnTextsAgain) {
    Exec(db2_, "CREATE TABLE src (id int)");
    Exec(db2_, "INSERT INTO src SELECT generate_series(1, 2500)");
    Exec(db1_, "CREATE TABLE dst (id int)");
    auto* bar = test::Control<ProgressBar>(Screen(), "ProgressBar1");
    QStringList seen;  // at the box: its title, the screen's title, tooltip, description, bar
    MessageBox::SetRecorder([&](const MessageBox::Shown& shown) {
        seen = {shown.title, Screen().windowTitle(), bar->toolTip(), bar->accessibleDescription(),
                bar->text()};
    });
    Press("dst", "src");
    ASSERT_EQ(seen.size(), 5);
    EXPECT_FALSE(seen[0].contains('%'));
    EXPECT_EQ(seen[1], "100 % – Tessaline Row Porter Suite");
    EXPECT_TRUE(
        QRegularExpression("^2,500 of 2,500 rows \\(100\\.0 %\\), [\\d,]+ rows/s, 0:00 left$")
            .match(seen[2])
            .hasMatch())
        << seen[2].toStdString();
    EXPECT_EQ(seen[3], seen[2]);
    EXPECT_EQ(seen[4], "Progress Bar");
    EXPECT_EQ(Screen().windowTitle(), "Tessaline Row Porter Suite");
    EXPECT_TRUE(bar->toolTip().isEmpty());
    EXPECT_TRUE(bar->accessibleDescription().isEmpty());
}

}  // namespace
}  // namespace trp
