#include "base/error_trap.h"

#include <new>
#include <stdexcept>

namespace trp {

std::string FailureDescription(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

void ErrorTrap::Report(const std::exception_ptr& failure) {
    ShowErrorReport(host_, FailureDescription(failure), location_, current_line_);
}

}  // namespace trp
