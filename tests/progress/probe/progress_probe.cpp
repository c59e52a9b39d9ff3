// Tests that pass and tests skipped with and without a reason, for the progress test to run
// with and without a progress file. Not a test of its own.
#include <gtest/gtest.h>

namespace {

TEST(Probe, Passes) {}

TEST(Probe, SkipsWithAReasonOfTwoLines) {
    GTEST_SKIP() << "the machine lacks a thing\nthat this test needs";
}

TEST(Probe, SkipsWithoutAReason) {
    GTEST_SKIP();
}

TEST(Probe, PassesAfterTheSkips) {}

}  // namespace
