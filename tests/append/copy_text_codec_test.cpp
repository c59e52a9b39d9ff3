#include "append/copy_text_codec.h"

#include <gtest/gtest.h>

#include "append/copy_protocol.h"
#include "append/insert_statement.h"

namespace trp {
namespace {

TEST(CopyTextCodec, DecodesNullsEscapesAndEmptyFields) {
    EXPECT_EQ(DecodeCopyLine("\\N\t\t\\\\N\n"),
              (RowValues{std::nullopt, std::string(), std::string("\\N")}));
    EXPECT_EQ(DecodeCopyLine("a\\tb\\nc\\rd\\\\e\\bf\\fg\\vh"),
              (RowValues{std::string("a\tb\nc\rd\\e\bf\fg\vh")}));
    // Octal and hexadecimal escapes, which the server accepts and may be given.
    EXPECT_EQ(DecodeCopyLine("\\101\\x42\\7\\x4z\\q"), (RowValues{std::string("AB\a\x04zq")}));
    EXPECT_EQ(DecodeCopyLine(""), (RowValues{std::string()}));
    EXPECT_EQ(DecodeCopyLine("\t"), (RowValues{std::string(), std::string()}));
}

TEST(CopyTextCodec, EscapedCharactersDecodeToThemselves) {
    EXPECT_EQ(DecodeCopyLine("\\N\n"), RowValues{std::nullopt});
    EXPECT_EQ(DecodeCopyLine("\n"), RowValues{std::string()});
    EXPECT_EQ(DecodeCopyLine("\\\\N\t\\N\ttab\\there\t\\\\.\n"),
              (RowValues{std::string("\\N"), std::nullopt, std::string("tab\there"),
                         std::string("\\.")}));
    EXPECT_EQ(DecodeCopyLine("line\\nbreak\\r\\n\t|mysepz123|\té😀\\\\\n"),
              (RowValues{std::string("line\nbreak\r\n"), std::string("|mysepz123|"),
                         std::string("é😀\\")}));
}

// COPY's context names the row that failed, in the server's language, after the table's name;
// a value or a table name that reads like it does not mislead.
TEST(FailedCopyLine, TheLineOfTheTablesOwnCopyInAnyLanguage) {
    EXPECT_EQ(FailedCopyLine("COPY dst, line 1234, column id: \"x\"", "dst"), 1234u);
    EXPECT_EQ(FailedCopyLine("COPY dst, line 7: \"7\tfoo\"", "dst"), 7u);
    EXPECT_EQ(FailedCopyLine("COPY dst, line 3", "dst"), 3u);
    EXPECT_EQ(FailedCopyLine("COPY dst, Zeile 12, Spalte id: \"x\"", "dst"), 12u);
    EXPECT_EQ(FailedCopyLine("SQL function \"f\" statement 1\nCOPY dst, line 5, column v", "dst"),
              5u);
    EXPECT_EQ(FailedCopyLine("COPY a, line 9, b, line 2: \"1\"", "a, line 9, b"), 2u);
    EXPECT_EQ(FailedCopyLine("COPY dst, line 3, column v: \"a, line 99\"", "dst"), 3u);
    // Nothing that names a line of this COPY.
    EXPECT_EQ(FailedCopyLine(nullptr, "dst"), std::nullopt);
    EXPECT_EQ(FailedCopyLine("COPY other, line 3", "dst"), std::nullopt);
    EXPECT_EQ(FailedCopyLine("SQL statement \"SELECT 1 FROM parent\"", "dst"), std::nullopt);
    EXPECT_EQ(FailedCopyLine("COPY dst, line x", "dst"), std::nullopt);
    EXPECT_EQ(FailedCopyLine("COPY dst, line 3", ""), std::nullopt);
}

TEST(InsertStatement, QuotesEveryValueKeepsNullsAndGivesRowsWithoutColumnsTheirDefaults) {
    EXPECT_EQ(BuildInsertStatement("\"people\"",
                                   {std::string("O'Brien"), std::nullopt, std::string("42")}),
              "INSERT INTO \"people\" VALUES('O''Brien', NULL, '42')");
    EXPECT_EQ(BuildInsertStatement("\"a\"", {std::string()}), "INSERT INTO \"a\" VALUES('')");
    EXPECT_EQ(BuildInsertStatement("\"none\"", {}), "INSERT INTO \"none\" DEFAULT VALUES");
}

// A refused large row is recorded from the statement that carried it.
TEST(InsertStatement, ValuesReadBackFromTheStatementAreTheValuesItWasMadeOf) {
    const std::string table = "\"x VALUES('a', NULL\"";
    for (const RowValues& values :
         {RowValues{std::string("O'Brien"), std::nullopt, std::string()},
          RowValues{std::string("NULL"), std::string("''"), std::string("', NULL, '")},
          RowValues{std::string("a)\nb, c"), std::string("'"), std::nullopt},
          RowValues{std::nullopt}, RowValues{std::string("\xe2\x82\xac\\")}, RowValues{}})
        EXPECT_EQ(InsertStatementValues(BuildInsertStatement(table, values), table), values);
}

}  // namespace
}  // namespace trp
