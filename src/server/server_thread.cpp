// The routine of the server thread: banner, server object, listener, loop.
#include "server/server_thread.h"

#include "log/log.h"
#include "server/http_server.h"

const char* const LAUNCHER_NAME = "zanfiroWebLauncher";
const char* const LAUNCHER_VERSION = "1.3.2";
const char* const LAUNCHER_DATE = "2012-06-01";

void serverThreadMain() {
    writeLog("-----------------------------------------------------", 0);
    writeLogf(0, "%s versione %s, %s", LAUNCHER_NAME, LAUNCHER_VERSION, LAUNCHER_DATE);

    HttpServer server(LAUNCHER_NAME, LAUNCHER_VERSION, LAUNCHER_DATE);
    // A failed open leaves the listener unset; the loop's first wait then
    // fails and ends the process.
    server.open(LAUNCHER_PORT);
    // Read once, at start: editing the list takes a restart.
    loadAllowedOrigins(server.requests);
    server.run();
}
