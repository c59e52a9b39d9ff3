// The files that keep a run's refused rows: where they go, what they are called, and that a
// failure to write them is said once.
#include "append/refused_rows_file.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <stdexcept>
#include <string>

#include "refused_rows_support.h"

namespace trp {
namespace {

using test::ReadAll;
using test::StateHome;

// The file's name: the run's start in UTC and the table, made safe; never an existing file.
TEST(RefusedRowsFileName, TimeInUtcAndTheTableMadeSafe) {
    const auto at = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} +
                    std::chrono::hours{13} + std::chrono::minutes{15} + std::chrono::seconds{0};
    EXPECT_EQ(RefusedRowsStem(at, "orders"), "20261207-131500-orders");
    EXPECT_EQ(RefusedRowsStem(at, "\"Q 1\".\"T\""), "20261207-131500-_Q_1_._T_");
    EXPECT_EQ(RefusedRowsStem(at, "../Grüße/x-1.y_z"), "20261207-131500-.._Grüße_x-1.y_z");
    EXPECT_EQ(RefusedRowsStem(at, "bad\xff"), "20261207-131500-bad_");
}

TEST(RefusedRowsFileName, TheSameSecondCountsOnAndNothingIsWrittenBeforeARow) {
    QTemporaryDir folder;
    const std::string refused = folder.filePath("refused").toStdString();
    const auto at = std::chrono::system_clock::now();
    const std::string stem = refused + "/" + RefusedRowsStem(at, "orders");
    { RefusedRowsFile unused(refused, at, "orders", {"id"}); }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(refused)));

    const RowValues row{std::string("1")};
    RefusedRowsFile first(refused, at, "orders", {"id"});
    first.Add(&row, 1, "23505", "duplicate");
    RefusedRowsFile second(refused, at, "orders", {"id"});
    second.Add(&row, 1, "23505", "duplicate");
    // A stray reasons file takes its name too.
    QFile stray(QString::fromStdString(stem + "-3.reasons.csv"));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    RefusedRowsFile fourth(refused, at, "orders", {"id"});
    fourth.Add(nullptr, 7, "22P02", "no text form");
    EXPECT_EQ(first.Path(), stem + ".csv");
    EXPECT_EQ(second.Path(), stem + "-2.csv");
    EXPECT_EQ(fourth.Path(), stem + "-4.csv");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(stem + "-3.csv")));
    EXPECT_EQ(ReadAll(QString::fromStdString(stem + "-2.csv")), "id\n1\n");
    // A row without values is listed among the reasons alone.
    EXPECT_EQ(ReadAll(QString::fromStdString(fourth.Path())), "id\n");
    EXPECT_EQ(ReadAll(QString::fromStdString(stem + "-4.reasons.csv")),
              "record,source_row,sqlstate,message\n,7,22P02,no text form\n");
}

TEST(RefusedRowsFileName, AFailureIsSaidOnceAndNothingMoreIsTried) {
    QTemporaryDir folder;
    QFile blocker(folder.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RefusedRowsFile file(blocker.fileName().toStdString() + "/refused",
                         std::chrono::system_clock::now(), "t", {"id"});
    const RowValues row{std::string("1")};
    EXPECT_THROW(file.Add(&row, 1, "23505", "duplicate"), std::runtime_error);
    EXPECT_NO_THROW(file.Add(&row, 2, "23505", "duplicate"));
    EXPECT_FALSE(file.Complete());
    EXPECT_TRUE(file.Path().empty());
}

TEST(RefusedRowsFolder, XdgStateHomeWhenAbsoluteOtherwiseTheHomesStateFolder) {
    const QByteArray home_before = qgetenv("HOME");
    qputenv("HOME", "/home/someone");
    {
        const StateHome state("/var/state/");
        EXPECT_EQ(RefusedRowsFolder(), "/var/state/tessaline-row-porter/refused");
    }
    {
        const StateHome state("/");
        EXPECT_EQ(RefusedRowsFolder(), "/tessaline-row-porter/refused");
    }
    for (const char* ignored : {"", "relative/state"}) {
        const StateHome state(ignored);
        EXPECT_EQ(RefusedRowsFolder(), "/home/someone/.local/state/tessaline-row-porter/refused")
            << ignored;
    }
    qputenv("HOME", home_before);
}

}  // namespace
}  // namespace trp
