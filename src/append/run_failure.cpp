#include "append/run_failure.h"

#include <string_view>

#include "connection/db_error.h"

namespace trp {

bool EndsTheRun(const DbError& failure, bool row_security) {
    if (dynamic_cast<const BrokenConnection*>(&failure)) return true;
    const std::string_view state = failure.sqlstate();
    // Failures of libpq itself (sending, receiving) come without a SQLSTATE of the server's.
    if (state.size() != 5) return true;
    const std::string_view kind = state.substr(0, 2);
    if (kind == "08" || kind == "53" || kind == "57" || kind == "58") return true;
    if (state == "25006") return true;
    return state == "42501" && !row_security;
}

bool EndsTheRun(const std::exception_ptr& failure, bool row_security) {
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& error) {
        return EndsTheRun(error, row_security);
    } catch (...) {
        // Anything but a server's refusal (out of memory, say) is not the row's doing.
        return true;
    }
}

}  // namespace trp
