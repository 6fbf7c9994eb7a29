// A scriptable stand-in for the platform layer. Every call is recorded and
// answered from the hooks below; a hook left empty gives the default answer
// written next to it. reset() restores the defaults and clears the records.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/socket.h"

namespace fake {

using platform::Socket;

struct ProgramStart {
    std::string file;
    std::string argument;
    std::string directory;
};

// Results as the real layers give them.
platform::SystemError error(platform::ErrorKind kind, int number);  // text "fake error <number>"
platform::IoResult transferred(std::size_t count);
platform::IoResult wouldBlock();
platform::IoResult peerClosed();
platform::IoResult failed(int number);

struct Platform {
    // --- sockets ---------------------------------------------------------
    platform::LibraryStart libraryStart = platform::LibraryStart::Started;
    int libraryStarts = 0;
    // default: a new handle counting up from 100
    std::function<Socket(platform::SystemError&)> openTcpSocket;
    std::function<bool(Socket)> setNonBlocking;  // default true
    std::function<bool(Socket)> claimPort;       // default true
    std::function<bool(Socket, const platform::Ipv4Endpoint&, platform::SystemError&)> bindSocket;  // true
    std::function<bool(Socket, int)> listenOn;  // default true
    // default: nothing pending
    std::function<platform::Accepted(Socket)> acceptConnection;
    std::function<bool(Socket, const platform::Ipv4Endpoint&, int, platform::SystemError&)>
        connectTo;                                       // true
    std::function<bool(Socket, int)> setReceiveTimeout;  // default true
    // default: all bytes sent, appended to sent[s]
    std::function<platform::IoResult(Socket, const char*, std::size_t)> sendBytes;
    // default: the peer's orderly close
    std::function<platform::IoResult(Socket, char*, std::size_t)> receiveBytes;
    // default: records the handle in closed
    std::function<void(Socket)> closeSocket;
    // default: fails as a wait over an invalid socket does ("fake error 9")
    std::function<platform::WaitResult(platform::WatchedSocket*, std::size_t, long)> waitReadable;

    std::map<Socket, std::string> sent;
    std::vector<Socket> closed;
    Socket nextSocket = 100;

    // --- folders ---------------------------------------------------------
    std::optional<std::string> userDataFolder;  // unset: the lookup fails
    std::optional<std::string> userConfigFolder;  // unset: the lookup fails
    std::vector<std::string> programFolders;
    char separator = '/';
    std::string suffix;  // executableSuffix()

    // --- files (real files; the hooks let a test step in) ----------------
    std::function<void(const std::string& path)> afterAppendOpen;
    bool appendWritesFail = false;

    // --- clock -----------------------------------------------------------
    std::time_t now = 1338534307;        // 2012-06-01 07:05:07 UTC
    std::vector<unsigned> sleeps;        // every sleepMilliseconds, in order; none really sleeps
    std::int64_t monotonicMs = 1000000;  // monotonicMilliseconds()

    // --- process ---------------------------------------------------------
    std::function<int(void (*)())> startThread;  // default: records, returns 0
    std::vector<void (*)()> threadsStarted;
    int stopCode = 0;  // what waitForStopRequest() returns
    int stopWaits = 0;
    bool programStartSucceeds = true;
    std::vector<ProgramStart> programStarts;
};

Platform& state();
void reset();

}  // namespace fake
