#include "app/startup_signals.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <csignal>

#include "base/program_end.h"

namespace trp {
namespace {

TEST(TerminationSignals, EndTheProgramAsClosingAScreenDoesInsteadOfKillingTheProcess) {
    QuitOnTerminationSignals();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ResetProgramEnding();
        QObject guard;
        bool timed_out = false;
        QTimer::singleShot(0, &guard, [signal] { std::raise(signal); });
        QTimer::singleShot(5000, &guard, [&] {
            timed_out = true;
            QCoreApplication::exit(1);
        });
        // The application's own loop, as in the program, ends normally.
        EXPECT_EQ(QCoreApplication::exec(), 0) << signal;
        EXPECT_FALSE(timed_out) << signal;
        // A running append sees the program ending and stops at its next safe point.
        EXPECT_TRUE(ProgramEnding()) << signal;
    }
    ResetProgramEnding();
}

}  // namespace
}  // namespace trp
