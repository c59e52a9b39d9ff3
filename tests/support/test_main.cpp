#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/temporary_cluster.h"

int main(int argc, char** argv) {
    // Screens are created without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The tests' servers are throwaway ones; tests that want encryption ask for it themselves.
    trp::IgnoreUsersEncryptionSettings();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
