// Starting the desktop program for a web page.
#pragma once

#include <ctime>
#include <string>

// Starts the desktop program with "-w=" + userId, at most once per three clock
// seconds. False when the program folder is unknown or the start was refused.
bool launchZanfiro(const std::string& userId);

// Clock second of the last attempt that passed the rate limit; 0 at start.
extern std::time_t lastStartTime;
