// A termination signal in the middle of a run, delivered to the program in a child process: the
// batch in flight is committed, nothing more is shown, and the process ends by itself.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "append_test_support.h"
#include "connection/profile_store.h"
#include "screen_run.h"

namespace trp {
namespace {

constexpr long long kRows = 300000;

class TerminationSignalTest : public test::AppendTest {
protected:
    void SetUp() override {
        AppendTest::SetUp();
        Exec(db2_, "CREATE TABLE src (id int, pad text)");
        Exec(db2_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, " +
                       std::to_string(kRows) + ") g");
        Exec(db1_, "CREATE TABLE dst (id int, pad text)");
        ProfileStore store(folder_.filePath("Kestrelby.conf"));
        const Profile profiles[] = {UserProfile(db1_), UserProfile(db2_)};
        for (int i = 0; i < 2; ++i) {
            const QString suffix = i == 0 ? "" : "2";
            const Profile& p = profiles[i];
            for (const auto& [key, value] : {std::pair{"Server", p.server},
                                             {"Port", p.port},
                                             {"User", p.user},
                                             {"Password", p.password},
                                             {"Database", p.database}})
                ASSERT_TRUE(store.Save(key + suffix, QString::fromStdString(value)));
        }
    }

    QTemporaryDir folder_;
};

TEST_F(TerminationSignalTest, EndsTheRunKeepingWhatTheBarShowedAndThenTheProgram) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Exec(db1_, "TRUNCATE dst");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(TRP_APPEND_RUN_CHILD, {folder_.filePath("Kestrelby.conf"), "dst", "src"});
        ASSERT_TRUE(child.waitForStarted(30000));
        double shown = 0;
        QStringList after_signal;
        QElapsedTimer since_signal;
        while (child.state() != QProcess::NotRunning) {
            child.waitForReadyRead(1000);
            while (child.canReadLine()) {
                const QString line = QString::fromUtf8(child.readLine()).trimmed();
                if (since_signal.isValid()) after_signal << line;
                if (line.startsWith("bar ")) shown = std::max(shown, line.mid(4).toDouble());
            }
            if (!since_signal.isValid() && shown >= 30) {
                ::kill(static_cast<pid_t>(child.processId()), signal);
                since_signal.start();
            }
            ASSERT_FALSE(since_signal.isValid() && since_signal.elapsed() > 30000)
                << "the program did not end";
        }
        after_signal << QString::fromUtf8(child.readAll()).split('\n', Qt::SkipEmptyParts);
        ASSERT_TRUE(since_signal.isValid()) << "the run ended before the bar reached 30 %";
        std::cout << "signal " << signal << ": the program ended " << since_signal.elapsed()
                  << " ms after it\n";
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
        EXPECT_TRUE(after_signal.filter(QRegularExpression("^box ")).isEmpty())
            << after_signal.join("\n").toStdString();
        EXPECT_TRUE(after_signal.contains("ended"));
        const long long arrived = std::stoll(Scalar(db1_, "SELECT count(*) FROM dst"));
        EXPECT_GE(arrived, static_cast<long long>(shown * kRows / 100)) << signal;
        EXPECT_TRUE(test::NoDoubles(UserProfile(db1_), "dst"));
    }
}

}  // namespace
}  // namespace trp
