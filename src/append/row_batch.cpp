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
    std::vector<RowLocator> missing;
    for (std::size_t row = first; row < last; ++row)
        if (!KeptTexts(row)) missing.push_back(Locator(row));
    if (!missing.empty()) {
        std::vector<RowValues> read;
        try {
            read = texts->Texts(missing);
        } catch (const BrokenConnection& lost) {
            // The source's session, not the destination's: nothing for the writer to ride out.
            throw SourceLost(lost.what());
        }
        std::size_t next = 0;
        for (std::size_t row = first; row < last; ++row)
            if (!KeptTexts(row)) KeepTexts(row, std::move(read.at(next++)));
    }
    for (std::size_t row = first; row < last; ++row) values.push_back(*KeptTexts(row));
    return values;
}

}  // namespace trp
