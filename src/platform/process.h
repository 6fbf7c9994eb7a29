// The process: its command line, its threads, its end, and the programs it
// starts.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The entry of the POSIX build hands its argv over; Windows reads its own
// command line and ignores this.
void rememberCommandLine(int argc, char** argv);
// The arguments, index 0 being the program. False when the command line
// cannot be split.
bool commandLineArguments(std::vector<std::string>& arguments);

// Starts routine on a new, detached thread. Returns 0, or the OS error number.
// On POSIX the stop signals are blocked in the calling thread first, so the
// new thread inherits the block and only waitForQuitMessage() sees them.
int startThread(void (*routine)());

// Keeps the calling (main) thread waiting until the process is asked to quit
// from outside, and returns the exit code that request carries: the quit
// message's word parameter on Windows, 0 for SIGTERM/SIGINT/SIGHUP on POSIX.
int waitForQuitMessage();

// Ends the whole process, all threads with it.
[[noreturn]] void exitProcess(int code);

// Asks the OS to start file with the one argument given (the program sees
// exactly that one argument), in directory, without waiting for it. Returns a
// value greater than 32 when the start was accepted, 32 or less when refused.
long startProgram(const std::string& file, const std::string& argument, const std::string& directory);

}  // namespace platform
