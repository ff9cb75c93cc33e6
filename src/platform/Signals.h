// The end of the session as the system announces it: SIGTERM (sent at logout and shutdown) and
// SIGHUP (the terminal went away) end the event loop as quitting does, so that the program writes
// what it writes when it closes instead of dying on the spot.
#pragma once

namespace Signals {

// Installs the handlers; the event loop then ends at the next turn after such a signal.
void QuitOnTermination();

} // namespace Signals
