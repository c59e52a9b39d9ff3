#include "append/copy_text_codec.h"

#include <gtest/gtest.h>

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

TEST(CopyTextCodec, EncodedRowsDecodeToTheSameValues) {
    const RowValues rows[] = {
        {std::nullopt},
        {std::string()},
        {std::string("\\N"), std::nullopt, std::string("tab\there"), std::string("\\.")},
        {std::string("line\nbreak\r\n"), std::string("|mysepz123|"), std::string("é😀\\")},
    };
    for (const auto& row : rows) EXPECT_EQ(DecodeCopyLine(EncodeCopyLine(row) + "\n"), row);
}

TEST(InsertStatement, QuotesEveryValueKeepsNullsAndGivesRowsWithoutColumnsTheirDefaults) {
    EXPECT_EQ(BuildInsertStatement("\"people\"",
                                   {std::string("O'Brien"), std::nullopt, std::string("42")}),
              "INSERT INTO \"people\" VALUES('O''Brien', NULL, '42')");
    EXPECT_EQ(BuildInsertStatement("\"a\"", {std::string()}), "INSERT INTO \"a\" VALUES('')");
    EXPECT_EQ(BuildInsertStatement("\"none\"", {}), "INSERT INTO \"none\" DEFAULT VALUES");
}

}  // namespace
}  // namespace trp
