// Reading the owner's list of allowed page origins when the server starts.
#include "log/log.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "protocol/request_handler.h"

namespace {

const char* const ALLOWED_ORIGINS_FILE = "allowed-origins.txt";
// A list of origins is a few lines; anything far larger is not one.
const std::size_t MOST_BYTES = 64 * 1024;

}  // namespace

void loadAllowedOrigins(RequestContext& context) {
    context.originsListed = false;
    context.allowedOrigins = AllowedOrigins{};

    std::string folder;
    if (!platform::userConfigFolder(folder) || folder.empty()) {
        writeLog("Allowed origins: no configuration folder, every page allowed", 0);
        return;
    }
    const char sep = platform::pathSeparator();
    const std::string path = folder + sep + "zanfiro" + sep + ALLOWED_ORIGINS_FILE;

    std::string text;
    switch (platform::readSmallFile(path, MOST_BYTES, text)) {
        case platform::FileRead::Missing:
            writeLogf(0, "Allowed origins: no list at %s, every page allowed", path.c_str());
            return;
        case platform::FileRead::Failed:
            // The owner meant to restrict the pages: a list that cannot be
            // read allows none rather than all.
            context.originsListed = true;
            writeLogf(0, "Allowed origins: %s cannot be read, no page allowed", path.c_str());
            return;
        case platform::FileRead::Read:
            break;
    }

    const AllowedOriginsParse parsed = parseAllowedOrigins(text);
    for (const InvalidOriginLine& line : parsed.invalidLines)
        writeLogf(1, "xxx: invalid origin at line %d of %s: %s", line.lineNumber, path.c_str(),
                  escapeForLog(line.text).c_str());
    context.originsListed = true;
    context.allowedOrigins = parsed.allowed;
    writeLogf(0, "Allowed origins: %lu listed in %s",
              static_cast<unsigned long>(parsed.allowed.origins.size()), path.c_str());
}
