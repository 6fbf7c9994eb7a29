// The one-shot client that talks to a running launcher.
#pragma once

#include "protocol/control_words.h"

// What counts as an answer from the other side.
enum class ExpectedReply {
    Any,               // any reply, or an orderly close (the stop command)
    LauncherRejection  // the launcher's own rejection (the probe): another
                       // program on the port is no launcher
};

// Sends text to the launcher on 127.0.0.1 and waits for its reply. 0 when the
// exchange worked and the reply is what was expected, -1 when not. Ends the
// process with 1 when the socket library or a socket cannot be had.
int sendControlMessage(const char* text, ExpectedReply expected);

// Bound on the connect and on the wait for the reply, so that a listener that
// never answers cannot hold the caller.
constexpr int CONTROL_CLIENT_TIMEOUT_MS = 2500;
