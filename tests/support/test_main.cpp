#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "app/temporary_cluster.h"
#include "append/append_operation.h"
#include "support/test_progress.h"

int main(int argc, char** argv) {
    // Screens are created without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The tests' servers are throwaway ones; tests that want encryption ask for it themselves.
    trp::IgnoreUsersEncryptionSettings();
    // Runs keep their refused rows under XDG_STATE_HOME: a folder of this program's own, never
    // the user's. Programs the tests start inherit it.
    QTemporaryDir state;
    if (!state.isValid()) {
        std::fprintf(stderr, "no temporary folder for XDG_STATE_HOME\n");
        return 1;
    }
    setenv("XDG_STATE_HOME", state.path().toLocal8Bit().constData(), 1);
    // The screens tell the desktop over the session bus: never the user's. A test that wants a
    // bus starts its own.
    const QByteArray no_bus = "unix:path=" + state.filePath("no-session-bus").toLocal8Bit();
    setenv("DBUS_SESSION_BUS_ADDRESS", no_bus.constData(), 1);
    // A run ends at the first loss of its destination, as the tests of such failures expect;
    // the tests of riding a loss out give their runs a budget of their own.
    trp::DefaultAppendOptions().reconnect_for = std::chrono::seconds(0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // ctest keeps a passing program's output to itself; scripts/test.sh names a file in which
    // it follows which test runs and which were skipped. The listeners own what they are given.
    if (const char* progress_file = std::getenv(trp::test::kProgressVariable);
        progress_file && *progress_file) {
        ::testing::UnitTest::GetInstance()->listeners().Append(
            new trp::test::ProgressListener(progress_file, argv[0]));
    }
    return RUN_ALL_TESTS();
}
