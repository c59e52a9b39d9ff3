#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "support/test_progress.h"

int main(int argc, char** argv) {
    // Screens are created without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
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
