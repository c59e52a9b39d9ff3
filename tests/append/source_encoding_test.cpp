// A source database without an encoding (SQL_ASCII) holds bytes that no conversion may touch:
// they go to the destination unconverted, which takes each row that is valid in its own encoding
// and refuses the others one by one, while names and messages still read correctly.
#include <gtest/gtest.h>

#include "screen_run.h"

namespace trp {
namespace {

class SourceEncodingTest : public test::ScreenRunTest {
protected:
    // Database #2 without an encoding: "src" with 10,000 rows, row 10 holding the byte 0xff and
    // row 11 the bytes of "é" in UTF-8, row 12 the byte 0xe9 (é in LATIN1).
    void MakeRawSource() {
        Admin("postgres", "DROP DATABASE " + db2_ + " WITH (FORCE)");
        Admin("postgres", "CREATE DATABASE " + db2_ +
                              " ENCODING 'SQL_ASCII' LC_COLLATE 'C' LC_CTYPE 'C' "
                              "TEMPLATE template0 OWNER porter");
        Exec(db2_, "CREATE TABLE src (id int, v text)");
        Exec(db2_,
             "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 10000) g; "
             "UPDATE src SET v = convert_from('\\xff'::bytea, 'SQL_ASCII') WHERE id = 10; "
             "UPDATE src SET v = convert_from('\\xc3a9'::bytea, 'SQL_ASCII') WHERE id = 11; "
             "UPDATE src SET v = convert_from('\\xe9'::bytea, 'SQL_ASCII') WHERE id = 12");
    }
};

TEST_F(SourceEncodingTest, InvalidRowsAreRefusedOneByOneAndEveryOtherRowArrives) {
    MakeRawSource();
    Exec(db1_, "CREATE TABLE dst (id int, v text)");
    Press("dst", "src");
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 2) << reports.join("\n").toStdString();
    EXPECT_TRUE(reports[0].startsWith("ERROR:  invalid byte sequence for encoding \"UTF8\": 0xff"))
        << reports[0].toStdString();
    EXPECT_TRUE(reports[1].startsWith("ERROR:  invalid byte sequence for encoding \"UTF8\": 0xe9"))
        << reports[1].toStdString();
    for (const QString& report : reports) EXPECT_TRUE(report.contains("at line 212\r"));
    EXPECT_EQ(Messages(), QStringList{"Done."});
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "9998");
    EXPECT_EQ(Scalar(db1_, "SELECT string_agg(id::text, ',' ORDER BY id) FROM dst WHERE id < 14"),
              "1,2,3,4,5,6,7,8,9,11,13");
    EXPECT_EQ(Scalar(db1_, "SELECT v FROM dst WHERE id = 11"), "é");
}

TEST_F(SourceEncodingTest, ADestinationInAnotherEncodingTakesTheBytesAsItsOwnAndSpeaksPlainly) {
    MakeRawSource();
    Admin("postgres", "DROP DATABASE " + db1_ + " WITH (FORCE)");
    Admin("postgres", "CREATE DATABASE " + db1_ +
                          " ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0 "
                          "OWNER porter");
    // A name beyond ASCII, and a refusal whose message quotes it.
    Exec(db1_, "CREATE TABLE \"tëst\" (id int CONSTRAINT \"clé\" CHECK (id <> 7), v text)");
    Press("tëst", "src");
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 1) << reports.join("\n").toStdString();
    EXPECT_TRUE(
        reports[0].contains("new row for relation \"tëst\" violates check constraint "
                            "\"clé\""))
        << reports[0].toStdString();
    EXPECT_EQ(Messages(), QStringList{"Done."});
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM \"tëst\""), "9999");
    // Unconverted: the UTF-8 bytes of "é" are two LATIN1 characters, 0xe9 is "é" and 0xff "ÿ".
    EXPECT_EQ(Scalar(db1_, "SELECT v FROM \"tëst\" WHERE id = 11"), "Ã©");
    EXPECT_EQ(Scalar(db1_, "SELECT v FROM \"tëst\" WHERE id = 12"), "é");
    EXPECT_EQ(Scalar(db1_, "SELECT v FROM \"tëst\" WHERE id = 10"), "ÿ");
}

}  // namespace
}  // namespace trp
