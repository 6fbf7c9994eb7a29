// The two texts a launcher process sends to the running one: the server must
// recognise exactly what the control client sends.
#pragma once

// Stops the running launcher (sent by "-kill").
constexpr char QUIT_WORD[] = "_Wr8p_";
// Asks whether a launcher is running; answered like any other bad request.
constexpr char PROBE_TEXT[] = "ciao";
