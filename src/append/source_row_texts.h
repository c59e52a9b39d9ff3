#pragma once

#include <vector>

#include "append/copy_text_codec.h"
#include "append/row_locator.h"

namespace trp {

// The source's own text of a row it gave in COPY's binary format, read again where it is stored:
// what the row's INSERT statement carries when the destination refuses the row.
class SourceRowTexts {
public:
    virtual ~SourceRowTexts() = default;
    // The rows' texts, in the order asked for, in one round trip. Throws DbError when a row
    // cannot be read again.
    virtual std::vector<RowValues> Texts(const std::vector<RowLocator>& rows) = 0;
};

}  // namespace trp
