// What the commands print, on which stream and when: the console's host, driven as the engine
// drives it, with a clock of the test's own.
#include "app/console_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace trp {
namespace {

using namespace std::chrono_literals;
using Clock = ConsoleHost::Clock;

TEST(ConsoleLines, PrintsEachLineBreakOfABoxAsOne) {
    EXPECT_EQ(ConsoleLines("duplicate key\r\nin X at line 212\r\rPlease email"),
              "duplicate key\nin X at line 212\n\nPlease email");
    EXPECT_EQ(ConsoleLines("one\ntwo\r"), "one\ntwo\n");
    EXPECT_EQ(ConsoleLines("Done."), "Done.");
}

// Standard output and standard error as texts, and a clock that moves when the test says.
class ConsoleHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        output_ = open_memstream(&output_text_, &output_size_);
        errors_ = open_memstream(&errors_text_, &errors_size_);
        ASSERT_TRUE(output_ && errors_);
    }
    void TearDown() override {
        host_.reset();
        std::fclose(output_);
        std::fclose(errors_);
        std::free(output_text_);
        std::free(errors_text_);
    }
    ConsoleHost& Host(bool terminal) {
        host_ = std::make_unique<ConsoleHost>(output_, errors_, terminal, [this] { return now_; });
        return *host_;
    }
    std::string Output() {
        std::fflush(output_);
        return std::string(output_text_, output_size_);
    }
    std::string Errors() {
        std::fflush(errors_);
        return std::string(errors_text_, errors_size_);
    }

    Clock::time_point now_{};
    std::unique_ptr<ConsoleHost> host_;

private:
    std::FILE* output_ = nullptr;
    std::FILE* errors_ = nullptr;
    char* output_text_ = nullptr;
    char* errors_text_ = nullptr;
    std::size_t output_size_ = 0;
    std::size_t errors_size_ = 0;
};

TEST_F(ConsoleHostTest, ALogGetsAPlainLineAboutEveryTenSecondsAndOutputOnlyTheEnd) {
    ConsoleHost& host = Host(false);
    host.SetBusyPointer(true);
    host.RowsSettled(0, 1000);
    now_ += 9s;
    host.SetProgress(40);
    host.RowsSettled(400, 1000);
    host.ProcessPendingEvents();
    EXPECT_EQ(Errors(), "");
    // Ten seconds after the start: the next sign of life, be it rows or only waiting.
    now_ += 1s;
    host.ProcessPendingEvents();
    EXPECT_EQ(Errors(), "400 of 1,000 rows (40.0 %), 40 rows/s, 0:15 left\n");
    now_ += 5s;
    host.RowsSettled(600, 1000);
    now_ += 5s;
    host.RowsSettled(800, 1000);
    EXPECT_EQ(Errors(),
              "400 of 1,000 rows (40.0 %), 40 rows/s, 0:15 left\n"
              "800 of 1,000 rows (80.0 %), 40 rows/s, 0:05 left\n");
    host.RowsSettled(1000, 1000);
    host.ShowMessage("Done.");
    host.SetBusyPointer(false);
    host.ResetProgress();
    now_ += 60s;
    host.ProcessPendingEvents();
    EXPECT_EQ(Output(), "Done.\n");
    // No line after the end.
    EXPECT_EQ(Errors(),
              "400 of 1,000 rows (40.0 %), 40 rows/s, 0:15 left\n"
              "800 of 1,000 rows (80.0 %), 40 rows/s, 0:05 left\n");
}

TEST_F(ConsoleHostTest, ReportsGoToStandardErrorAndARefusedRowIsAnsweredOk) {
    ConsoleHost& host = Host(false);
    host.RowsSettled(0, 3);
    EXPECT_EQ(host.ShowRowErrorBox("duplicate key\r\nin X at line 212\r\rPlease email"),
              RowReportAnswer::Ok);
    host.ShowErrorBox("disk full\r\nin X at line 212\r\rPlease email");
    EXPECT_EQ(host.Reports(), 2);
    host.ShowMessageWithRefusedRows("Appending stopped. 1 of 3 rows were appended.",
                                    "1 row was refused; it is listed in /s/r.csv.", "/s");
    EXPECT_EQ(Errors(),
              "duplicate key\nin X at line 212\n\nPlease email\n"
              "disk full\nin X at line 212\n\nPlease email\n");
    EXPECT_EQ(Output(),
              "Appending stopped. 1 of 3 rows were appended.\n"
              "1 row was refused; it is listed in /s/r.csv.\n");
}

TEST_F(ConsoleHostTest, ATerminalGetsOneLineRedrawnInPlaceThatReportsAndTheEndDoNotOverwrite) {
    ConsoleHost& host = Host(true);
    host.RowsSettled(0, 1000);
    EXPECT_EQ(Errors(), "\r0 of 1,000 rows (0.0 %)\033[K");
    // Changes within a tenth of a second wait for the next redraw.
    now_ += 50ms;
    host.RowsSettled(100, 1000);
    EXPECT_EQ(Errors(), "\r0 of 1,000 rows (0.0 %)\033[K");
    now_ += 50ms;
    host.RowsSettled(200, 1000);
    EXPECT_EQ(Errors(),
              "\r0 of 1,000 rows (0.0 %)\033[K"
              "\r200 of 1,000 rows (20.0 %), 2,000 rows/s, 0:01 left\033[K");
    // A report takes the line's place, and the line comes back below it.
    host.ShowRowErrorBox("refused\r\nat line 212");
    host.RowsSettled(201, 1000);
    EXPECT_TRUE(
        Errors().ends_with("\r\033[Krefused\nat line 212\n\r201 of 1,000 rows (20.1 %), 2,010 "
                           "rows/s, 0:01 left\033[K"))
        << Errors();
    // The last count at once; the last message starts below the line, which stays.
    now_ += 10ms;
    host.RowsSettled(1000, 1000);
    const std::string before_end = Errors();
    EXPECT_TRUE(
        before_end.ends_with("\r1,000 of 1,000 rows (100.0 %), 9,091 rows/s, 0:00 left\033[K"))
        << before_end;
    host.ShowMessage("Done.");
    EXPECT_EQ(Errors(), before_end + "\n");
    EXPECT_EQ(Output(), "Done.\n");
}

}  // namespace
}  // namespace trp
