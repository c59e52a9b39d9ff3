// The rows of a batch as the settling reads them again: binary rows' texts from the source.
#include "append/row_batch.h"

#include <gtest/gtest.h>

#include "append/source_row_texts.h"

namespace trp {
namespace {

// The source as the batch asks it: each row's text is its place, and every round trip is noted.
class PlacesAsTexts : public SourceRowTexts {
public:
    std::vector<std::vector<std::uint32_t>> asked;
    std::vector<RowValues> Texts(const std::vector<RowLocator>& rows) override {
        std::vector<std::uint32_t>& blocks = asked.emplace_back();
        std::vector<RowValues> texts;
        for (const RowLocator& row : rows) {
            blocks.push_back(row.block);
            texts.push_back({std::string("row at ") + std::to_string(row.block)});
        }
        return texts;
    }
};

// Refused rows' values are read for several rows at once, and each row's text stays its own
// whichever way it was read.
TEST(RowBatchTexts, ReadsWhatIsMissingInOneRoundTripAndKeepsEachRowsOwn) {
    RowBatch batch;
    for (std::uint32_t block = 10; block < 15; ++block)
        batch.Append("tuple", true, RowLocator{1, block, 1});
    PlacesAsTexts source;
    batch.ReadTexts({1, 3}, source);
    batch.ReadTexts({3}, source);  // kept: no round trip
    const std::vector<RowValues> all = batch.Texts(0, 5, true, 1, &source);
    ASSERT_EQ(source.asked.size(), 2u);
    EXPECT_EQ(source.asked[0], (std::vector<std::uint32_t>{11, 13}));
    EXPECT_EQ(source.asked[1], (std::vector<std::uint32_t>{10, 12, 14}));
    ASSERT_EQ(all.size(), 5u);
    for (std::uint32_t row = 0; row < 5; ++row)
        EXPECT_EQ(all[row], RowValues{"row at " + std::to_string(10 + row)}) << row;
}

}  // namespace
}  // namespace trp
