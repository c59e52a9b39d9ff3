#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "app/temporary_cluster.h"

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
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
