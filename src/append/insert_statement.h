#pragma once

#include <string>
#include <string_view>

#include "append/copy_text_codec.h"

namespace trp {

// INSERT INTO "<table>" VALUES('<value 1>', NULL, …): every value a quoted literal with its
// apostrophes doubled, NULL as NULL, no column list. A row of a table without columns is
// INSERT INTO "<table>" DEFAULT VALUES. `quoted_table` is the name already quoted.
std::string BuildInsertStatement(std::string_view quoted_table, const RowValues& values);

// The values of a statement that BuildInsertStatement made for `quoted_table`, read back.
RowValues InsertStatementValues(std::string_view statement, std::string_view quoted_table);

}  // namespace trp
