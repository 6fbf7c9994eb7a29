// The two entries of the program. Both hand over to launcherMain(), so the
// Windows and the POSIX build run one start sequence.
#include "app/launcher.h"
#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return launcherMain();
}
#else
int main(int argc, char** argv) {
    platform::rememberCommandLine(argc, argv);
    return launcherMain();
}
#endif
