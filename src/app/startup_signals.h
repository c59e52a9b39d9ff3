#pragma once

namespace trp {

// SIGTERM, SIGINT and SIGHUP end the program the way closing a screen does instead of killing the
// process: a running append commits what is in flight, then the event loop ends normally, so
// that what the program set up (the demo mode's throwaway server) is taken down by its owners.
// Call once, after the application object exists.
void QuitOnTerminationSignals();

}  // namespace trp
