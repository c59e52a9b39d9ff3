#pragma once

#include <exception>
#include <stdexcept>

namespace trp {

class DbError;

// How far a failure on the destination reaches.
enum class FailureReach {
    // The row at hand: it is refused, the run goes on.
    Row,
    // The statement as such, if the destination table is no longer what the run started with
    // (class 42: renamed or dropped, a column dropped or altered); otherwise the row at hand
    // (a name too long for its column, a value naming an object that does not exist).
    Table,
    // The whole run, which ends after one report:
    // - the connection is lost or unusable (no SQLSTATE of the server's, or the connection class);
    // - insufficient privilege (42501), unless row-level security applies to the destination,
    //   where a policy refuses single rows with the same SQLSTATE;
    // - a read-only transaction (25006);
    // - insufficient resources (class 53: disk full, out of memory, too many connections);
    // - operator intervention (class 57: cancelled, terminated, shut down);
    // - system errors (class 58: input/output errors).
    Run,
};
FailureReach ReachOf(const DbError& failure, bool row_security);
FailureReach ReachOf(const std::exception_ptr& failure, bool row_security);

// The failure as one that ends the run, whatever its SQLSTATE says (a transaction's opening
// refused is no row's doing).
std::exception_ptr AsRunFailure(const std::exception_ptr& failure);

// Whether a COMMIT that failed this way may have committed all the same: the connection broke
// or its server went down (class 08, a server shutting down or restarting, a system error, a
// crash), whether libpq or a pooler in between says so. Its outcome then has to be asked after.
bool LeavesCommitInDoubt(const std::exception_ptr& failure);

// Thrown when the user chose "Stop Appending" on a refused row's report, or when the program is
// ending: the run ends where it stands, keeping what it committed.
class AppendStopped : public std::exception {
public:
    const char* what() const noexcept override { return "the append was stopped"; }
};

// The source's session was lost while the writer looked up rows' values there (a refused row's,
// or a binary row's text for its own INSERT). It is no loss of the destination: nothing is
// ridden out, and the run ends with its report.
class SourceLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace trp
