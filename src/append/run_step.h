#pragma once

#include "append/run_failure.h"
#include "base/error_trap.h"
#include "catalogue/passing_step.h"
#include "db/connection.h"

namespace trp {

// A step of the append under its error trap, except that a stop (the user's, or the program
// ending) is no failure of the step: it passes through to end the run.
template <typename Fn>
bool RunStep(ErrorTrap& trap, int line, Fn&& step) {
    return StepPassing<AppendStopped, WaitAbandoned>(trap, line, std::forward<Fn>(step));
}

// The same for the test of a conditional.
template <typename Fn>
bool RunTest(ErrorTrap& trap, int line, Fn&& test) {
    return TestPassing<AppendStopped, WaitAbandoned>(trap, line, std::forward<Fn>(test));
}

}  // namespace trp
