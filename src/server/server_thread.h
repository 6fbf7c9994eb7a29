// The routine of the server thread.
#pragma once

extern const char* const LAUNCHER_NAME;     // "zanfiroWebLauncher"
extern const char* const LAUNCHER_VERSION;  // "1.3.2"
extern const char* const LAUNCHER_DATE;     // "2012-06-01"

// Banner, server object, listener, connection loop. Does not return while the
// server serves; the process ends from inside the loop.
void serverThreadMain();
