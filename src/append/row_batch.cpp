#include "append/row_batch.h"

#include "append/run_failure.h"
#include "append/source_row_texts.h"
#include "db/db_error.h"

namespace trp {

std::vector<RowValues> RowBatch::Texts(std::size_t first, std::size_t last, bool binary,
                                       int columns, SourceRowTexts* texts) {
    std::vector<RowValues> values;
    values.reserve(last - first);
    if (!binary) {
        for (std::size_t row = first; row < last; ++row)
            values.push_back(columns == 0 ? RowValues{} : DecodeCopyLine(Row(row)));
        return values;
    }
    if (!texts) throw DbError("the source's text of a binary row is not at hand");
    std::vector<std::size_t> rows(last - first);
    for (std::size_t row = first; row < last; ++row) rows[row - first] = row;
    ReadTexts(rows, *texts);
    for (std::size_t row = first; row < last; ++row) values.push_back(*KeptTexts(row));
    return values;
}

void RowBatch::ReadTexts(const std::vector<std::size_t>& rows, SourceRowTexts& texts) {
    std::vector<std::size_t> missing;
    std::vector<RowLocator> places;
    for (const std::size_t row : rows) {
        if (KeptTexts(row)) continue;
        missing.push_back(row);
        places.push_back(Locator(row));
    }
    if (missing.empty()) return;
    std::vector<RowValues> read;
    try {
        read = texts.Texts(places);
    } catch (const BrokenConnection& lost) {
        // The source's session, not the destination's: nothing for the writer to ride out.
        throw SourceLost(lost.what());
    }
    for (std::size_t i = 0; i < missing.size(); ++i) KeepTexts(missing[i], std::move(read.at(i)));
}

}  // namespace trp
