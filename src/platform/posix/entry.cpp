// The POSIX entry point: the arguments as the C runtime gives them.
#include <csignal>
#include <string>
#include <vector>

#include "app/launcher.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    // A peer or an output reader that has gone is an error to handle where
    // it happens, never the end of the process. Started programs get the
    // default back (see startProgram).
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv[i]; ++i) arguments.emplace_back(argv[i]);
    // Ended here rather than by returning: returning would destroy static
    // objects while the server thread may still use them.
    platform::exitProcess(launcherMain(arguments));
}
