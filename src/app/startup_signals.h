#pragma once

namespace trp {

// SIGTERM, SIGINT and SIGHUP end the event loop the normal way instead of killing the process, so
// that what the program set up (the demo mode's throwaway server) is taken down by its owners.
// Call once, after the application object exists.
void QuitOnTerminationSignals();

}  // namespace trp
