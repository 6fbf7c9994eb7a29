#include "launch/launch.h"

#include "log/log.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/process.h"

std::time_t lastStartTime = 0;

namespace {

// The program-files folder: the 32-bit one first, the native one only when
// that lookup fails. Empty when neither gives a folder.
std::string programFilesFolder() {
    std::string folder;
    if (platform::knownFolderPath(platform::KnownFolder::ProgramFilesX86, folder) < 0) {
        platform::knownFolderPath(platform::KnownFolder::ProgramFiles, folder);
    }
    return folder;
}

}  // namespace

bool launchZanfiro(const std::string& userId) {
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

    std::string folder = programFilesFolder();
    if (folder.empty()) {
        writeLog("[launchZanfiro] application path, not found", 0);
        return false;
    }

    const char separator = platform::pathSeparator();
    std::string directory = folder + separator + "zanfiro" + separator;
    std::string file = directory + "zanfiro" + platform::executableSuffix();
    std::string parameters = "-w=" + userId;

    writeLog("exePath: " + file + parameters, 0);

    if (platform::startProgram(file, parameters, directory) > 32) return true;
    writeLog("[launchZanfiro] starting zanfiro error", 0);
    return false;
}
