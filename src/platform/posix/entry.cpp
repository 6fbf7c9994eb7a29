// The POSIX entry point: the arguments as the C runtime gives them.
#include <string>
#include <vector>

#include "app/launcher.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv[i]; ++i) arguments.emplace_back(argv[i]);
    return launcherMain(arguments);
}
