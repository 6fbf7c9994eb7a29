// The start sequence shared by both entries (WinMain and main): stop command,
// single-instance probe, or becoming the server.
#pragma once

// Returns the process's exit code.
int launcherMain();
