#pragma once

#include <optional>
#include <string>

#include "append/source_row_texts.h"
#include "db/connection.h"

namespace trp {

class EventPacer;

// Reads single rows of the source again, as text, where they are stored: through a session of
// its own (opened at the first row asked for) that imports the source's exported snapshot, so it
// sees exactly the rows the run reads, written with the same output settings. What it gives is
// the source's own output of the stored row, exactly what the text format would have carried.
class SourceRowLookup : public SourceRowTexts {
public:
    // `select_list` and `quoted_table` as the source's session reads them.
    SourceRowLookup(std::string connection_string, std::string quoted_table,
                    std::string select_list, std::string snapshot, EventPacer& pacer);

    ~SourceRowLookup() override;

    std::vector<RowValues> Texts(const std::vector<RowLocator>& rows) override;

private:
    std::string connection_string_;
    std::string quoted_table_;
    std::string select_list_;
    std::string snapshot_;
    EventPacer& pacer_;
    std::optional<Connection> session_;
};

}  // namespace trp
