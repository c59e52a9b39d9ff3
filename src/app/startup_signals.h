#pragma once

namespace trp {

// SIGTERM, SIGINT and SIGHUP end the program the way closing a screen does instead of killing the
// process: a running append commits what is in flight, then the event loop ends normally, so
// that what the program set up (the demo mode's throwaway server) is taken down by its owners.
// Call once, after the application object exists.
void QuitOnTerminationSignals();

// A write to a pipe nobody reads any more (`| head`, a closed log) fails with EPIPE instead of
// killing the process, so that the commands can say what was lost and end with a status of
// their own. Children started through QProcess get the default action back. Call first thing.
void IgnoreBrokenPipes();

}  // namespace trp
