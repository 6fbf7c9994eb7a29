#include "server/socket_library.h"

#include "log/log.h"
#include "platform/socket.h"

bool startSocketLibraryVersion20() {
    switch (platform::startSocketLibrary()) {
        case platform::LibraryStart::Started:
            return true;
        case platform::LibraryStart::Unavailable:
            writeLog("Nessuna DLL WinSock", 1);
            return false;
        case platform::LibraryStart::WrongVersion:
            writeLog("Verisone libreria Winsock non supportata", 1);
            return false;
    }
    return false;
}
