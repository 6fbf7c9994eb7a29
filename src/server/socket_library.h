// Starting the socket library, as both the server and the control client do.
#pragma once

// Starts the socket library at version 2.0, the only one accepted. On failure
// logs why at level 1 ("Nessuna DLL WinSock", or "Verisone libreria Winsock
// non supportata") and returns false; what follows a failure is the caller's.
bool startSocketLibraryVersion20();
