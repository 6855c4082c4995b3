// The desktop ends a session by signal (log-out sends SIGTERM, a closed terminal SIGHUP,
// Ctrl+C SIGINT): each quits the event loop the normal way, so the vault is locked and the
// decrypted copies are removed as on quit.
#pragma once

namespace xxplatform {

// Call once, on the GUI thread, after the application object exists.
void quitOnTerminationSignals();
// Whether one of those signals ended the program.
bool endedBySignal();

}  // namespace xxplatform
