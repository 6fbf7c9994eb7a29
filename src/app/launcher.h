// The start sequence: stop command, single-instance probe, or becoming the
// server. Each platform's entry point (main, WinMain) calls it.
#pragma once

#include <string>
#include <vector>

// arguments: the command line, index 0 being the program; empty when the
// command line could not be read. Returns the process's exit code.
int launcherMain(const std::vector<std::string>& arguments);
