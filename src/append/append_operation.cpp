#include "append/append_operation.h"

namespace trp {

// Placeholder: the append engine is being built.
void RunAppend(const AppendRequest&, OperationHost&) {}

}  // namespace trp
