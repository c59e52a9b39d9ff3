#include "append/run_failure.h"

#include <string_view>

#include "db/db_error.h"

namespace trp {

FailureReach ReachOf(const DbError& failure, bool row_security) {
    if (dynamic_cast<const BrokenConnection*>(&failure)) return FailureReach::Run;
    const std::string_view state = failure.sqlstate();
    // Failures of libpq itself (sending, receiving) come without a SQLSTATE of the server's.
    if (state.size() != 5) return FailureReach::Run;
    const std::string_view kind = state.substr(0, 2);
    if (kind == "08" || kind == "53" || kind == "57" || kind == "58") return FailureReach::Run;
    if (state == "25006") return FailureReach::Run;
    if (state == "42501") return row_security ? FailureReach::Row : FailureReach::Run;
    if (kind == "42") return FailureReach::Table;
    return FailureReach::Row;
}

FailureReach ReachOf(const std::exception_ptr& failure, bool row_security) {
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& error) {
        return ReachOf(error, row_security);
    } catch (...) {
        // Anything but a server's refusal (out of memory, say) is not the row's doing.
        return FailureReach::Run;
    }
}

std::exception_ptr AsRunFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& error) {
        return std::make_exception_ptr(DbError(error.what()));
    } catch (...) {
        return std::current_exception();
    }
}

bool LeavesCommitInDoubt(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const BrokenConnection&) {
        return true;
    } catch (const DbError& error) {
        const std::string_view state = error.sqlstate();
        if (state.size() != 5) return true;  // libpq's own
        const std::string_view kind = state.substr(0, 2);
        return kind == "08" || kind == "58" || kind == "XX" || state == "57P01" ||
               state == "57P02" || state == "57P03";
    } catch (...) {
        return false;
    }
}

}  // namespace trp
