// The process: its threads, its end, and the programs it starts. The entry
// point (main or WinMain) belongs to each platform's own folder and hands the
// arguments to launcherMain().
#pragma once

#include <string>

#include "platform/error.h"

namespace platform {

// Starts routine on a new, detached thread. Returns 0, or the system's error
// number. Requests to stop the process from outside reach only
// waitForStopRequest(), never the new thread.
int startThread(void (*routine)());

// Keeps the calling (main) thread waiting until the process is asked to stop
// from outside, and returns the exit code that request carries (a quit
// message's parameter on Windows; 0 for a stop signal on POSIX).
int waitForStopRequest();

// Ends the whole process, all threads with it.
[[noreturn]] void exitProcess(int code);

// Starts file with exactly one argument, in directory, without waiting for
// it. On failure, error says why.
bool startProgram(const std::string& file, const std::string& argument, const std::string& directory,
                  SystemError& error);

}  // namespace platform
