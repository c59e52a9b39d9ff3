#pragma once

#include <string>

#include "append/copy_text_codec.h"

namespace trp {

// INSERT INTO "<table>" VALUES('<value 1>', NULL, …): every value a quoted literal with its
// apostrophes doubled, NULL as NULL, no column list.
std::string BuildInsertStatement(const std::string& table, const RowValues& values);

}  // namespace trp
