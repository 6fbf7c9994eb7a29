// Starting the desktop program for a web page.
#pragma once

#include <ctime>
#include <string>

// Starts the desktop program with "-w=" + userId, at most once per three clock
// seconds; lastStartTime is the clock second of the last attempt that passed
// that limit (0 before the first). False when the program folder is unknown
// or the start was refused.
bool launchZanfiro(const std::string& userId, std::time_t& lastStartTime);
