#include "app/launcher.h"

#include <string>
#include <vector>

#include "app/control_client.h"
#include "log/log.h"
#include "platform/process.h"
#include "server/server_thread.h"

namespace {

const char* const STOP_ARGUMENT = "-kill";

}  // namespace

int launcherMain(const std::vector<std::string>& arguments) {
    // Stop command: the first argument equal to "-kill" (index 0 included)
    // decides; nothing else on the command line is looked at.
    for (const std::string& argument : arguments) {
        if (argument == STOP_ARGUMENT) return sendControlMessage(QUIT_WORD, ExpectedReply::Any);
    }

    // Single instance: only the launcher's own answer to the probe counts.
    if (sendControlMessage(PROBE_TEXT, ExpectedReply::LauncherRejection) >= 0) {
        writeLog("Laucher already started", 0);
        return 0;
    }

    // Rotate only now, so the probe's "connect error" ends up in the copy ".1"
    // and the new log begins with the server thread's banner.
    rotateLogs();

    const int error = platform::startThread(serverThreadMain);
    if (error != 0) {
        writeLogf(0, "ERROR; return code from CreateThread() is %d\n", error);
        platform::exitProcess(-1);
    }

    const int code = platform::waitForStopRequest();
    writeLog("Server: STOP?!.\n\n", 0);
    return code;
}
