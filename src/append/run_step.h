#pragma once

#include <exception>

#include "app/error_trap.h"
#include "append/event_pacer.h"
#include "append/run_failure.h"

namespace trp {

// A step of the append under its error trap, except that a stop (the user's, or the program
// ending) is no failure of the step: it passes through to end the run.
template <typename Fn>
bool RunStep(ErrorTrap& trap, int line, Fn&& step) {
    std::exception_ptr stop;
    const bool ok = trap.Step(line, [&] {
        try {
            step();
        } catch (const AppendStopped&) {
            stop = std::current_exception();
        } catch (const StopRequested&) {
            stop = std::current_exception();
        }
    });
    if (stop) std::rethrow_exception(stop);
    return ok;
}

}  // namespace trp
