#include "launch/launch.h"

#include <vector>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/process.h"

bool launchZanfiro(const std::string& userId, std::time_t& lastStartTime) {
    std::time_t now = platform::currentTime();
    // At most one attempt per three clock seconds; the page is told the start
    // is under way.
    if (now - 2 <= lastStartTime) {
        writeLog("[launchZanfiro] starting already done, wait!", 0);
        return true;
    }
    // Recorded before anything is tried, so a failed attempt holds off the
    // next one too.
    lastStartTime = now;

    // The preferred program folder only: whether the program is there is for
    // the start to find out.
    const std::vector<std::string> folders = platform::programFolders();
    if (folders.empty() || folders.front().empty()) {
        writeLog("[launchZanfiro] application path, not found", 0);
        return false;
    }

    const char separator = platform::pathSeparator();
    const std::string directory = folders.front() + separator + "zanfiro" + separator;
    const std::string file = directory + "zanfiro" + platform::executableSuffix();
    const std::string parameters = "-w=" + userId;

    // The user id is the page's: one line whatever it holds.
    writeLog("exePath: " + file + escapeForLog(parameters), 0);

    platform::SystemError error;
    if (platform::startProgram(file, parameters, directory, error)) return true;
    writeLog("[launchZanfiro] starting zanfiro error", 0);
    return false;
}
