#include "server/socket_library.h"

#include "log/log.h"
#include "platform/socket.h"

bool startSocketLibraryVersion20() {
    platform::SocketLibraryVersion granted;
    if (platform::startSocketLibrary(2, 0, granted) != 0) {
        writeLog("Nessuna DLL WinSock", 1);
        return false;
    }
    if (granted.major != 2 || granted.minor != 0) {
        platform::stopSocketLibrary();
        writeLog("Verisone libreria Winsock non supportata", 1);
        return false;
    }
    return true;
}
