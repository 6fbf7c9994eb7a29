// A scriptable stand-in for the platform layer. Every call is recorded and
// answered from the hooks below; a hook left empty gives the default answer
// written next to it. reset() restores the defaults and clears the records.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "platform/socket.h"

namespace fake {

using platform::Socket;

struct ProgramStart {
    std::string file;
    std::string argument;
    std::string directory;
};

struct Platform {
    // --- sockets ---------------------------------------------------------
    // default: 0, granting the version asked for
    std::function<int(int, int, platform::SocketLibraryVersion&)> startSocketLibrary;
    int stopSocketLibraryCalls = 0;
    // default: a new handle counting up from 100
    std::function<Socket()> openTcpSocket;
    std::function<int(Socket)> setNonBlocking;                             // default 0
    std::function<int(Socket)> setReuseAddress;                            // default 0
    std::function<int(Socket, const platform::Ipv4Endpoint&)> bindSocket;  // default 0
    std::function<int(Socket, int)> listenOn;                              // default 0
    // default: NO_SOCKET with lastError = would-block
    std::function<Socket(Socket, platform::Ipv4Endpoint&)> acceptConnection;
    std::function<int(Socket, const platform::Ipv4Endpoint&, int)> connectTo;  // default 0
    std::function<int(Socket, int)> setReceiveTimeout;                         // default 0
    // default: all bytes sent, appended to sent[s]
    std::function<long(Socket, const char*, std::size_t)> sendBytes;
    // default: 0 (orderly close)
    std::function<long(Socket, char*, std::size_t)> receiveBytes;
    // default: 0 and records the handle in closed
    std::function<int(Socket)> closeSocket;
    // default: -1 with lastError = 9 (as if the set held a bad socket)
    std::function<int(platform::SocketSet&, long)> waitReadable;

    std::map<Socket, std::string> sent;
    std::vector<Socket> closed;
    Socket nextSocket = 100;
    int lastError = 0;  // what lastSocketError() returns

    // --- folders ---------------------------------------------------------
    // A folder that is missing here fails its lookup (result -1).
    std::map<platform::KnownFolder, std::string> folders;
    std::vector<platform::KnownFolder> folderLookups;
    char separator = '/';
    std::string suffix;  // executableSuffix()

    // --- clock -----------------------------------------------------------
    std::time_t now = 1338534307;  // 2012-06-01 07:05:07 UTC
    std::vector<unsigned> sleeps;  // every sleepMilliseconds, in order; none really sleeps

    // --- process ---------------------------------------------------------
    std::vector<std::string> arguments;  // commandLineArguments()
    bool commandLineSplits = true;
    std::function<int(void (*)())> startThread;  // default: records, returns 0
    std::vector<void (*)()> threadsStarted;
    int quitCode = 0;  // what waitForQuitMessage() returns
    int quitWaits = 0;
    long programStartResult = 42;  // what startProgram() returns
    std::vector<ProgramStart> programStarts;
};

Platform& state();
void reset();

}  // namespace fake
