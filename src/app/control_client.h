// The one-shot client that talks to a running launcher.
#pragma once

#include "protocol/control_words.h"

// Sends text to the launcher on 127.0.0.1 and waits for one reply. 0 when the
// exchange worked (a reply or an orderly close), -1 when it did not. Ends the
// process with 1 when the socket library or a socket cannot be had.
int sendControlMessage(const char* text);

// Bound on the connect and on the receive, so that a listener that never
// answers cannot hold the caller.
constexpr int CONTROL_CLIENT_TIMEOUT_MS = 2500;
