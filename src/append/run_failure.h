#pragma once

#include <exception>

namespace trp {

class DbError;

// Whether a failure on the destination concerns the whole run rather than the row at hand, so
// that the run ends after one report instead of reporting it for every row left:
// - the connection is lost or unusable (no SQLSTATE of the server's, or the connection class);
// - insufficient privilege (42501), unless row-level security applies to the destination, where
//   a policy refuses single rows with the same SQLSTATE;
// - a read-only transaction (25006);
// - insufficient resources (class 53: disk full, out of memory, too many connections);
// - operator intervention (class 57: cancelled, terminated, shut down);
// - system errors (class 58: input/output errors).
bool EndsTheRun(const DbError& failure, bool row_security);
bool EndsTheRun(const std::exception_ptr& failure, bool row_security);

// Thrown when the user chose "Stop Appending" on a refused row's report, or when the program is
// ending: the run ends where it stands, keeping what it committed.
class AppendStopped : public std::exception {
public:
    const char* what() const noexcept override { return "the append was stopped"; }
};

}  // namespace trp
