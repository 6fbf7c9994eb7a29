// The local HTTP server: its client table, listener and connection loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/socket.h"
#include "protocol/request_handler.h"

class HTTPResponse;

constexpr int LAUNCHER_PORT = 5560;
constexpr int MAX_CLIENTS = 63;  // with the listener, 64 sockets to wait on

struct ClientSlot {
    int index = 0;
    platform::Socket socket = platform::NO_SOCKET;  // negative: the slot is free
    std::time_t connectTime = 0;
    char peerAddress[20] = {};
    int peerPort = 0;
    int keepOpen = 0;
    int spare = 0;

    // A request arriving in pieces: the text so far (a NUL ends what is
    // taken from its read), the bytes received over the connection, and the
    // last raw bytes, so the blank line that ends the head is found across
    // reads.
    std::string request;
    std::size_t receivedBytes = 0;
    std::string rawTail;
    bool headEnded = false;
    bool readable = false;          // found readable by this pass's wait
    std::uint64_t acceptOrder = 0;  // which accept of the process took it
};

class HttpServer {
public:
    HttpServer(const char* name, const char* version, const char* date);
    virtual ~HttpServer() = default;

    // Client table.
    ClientSlot* addClient(platform::Socket socket, const char* peerAddress, int peerPort, int keepOpen);
    void removeClient(ClientSlot* slot);
    void closeAllClients();

    // Listener and forced exit.
    platform::Socket open(int port);
    platform::Socket createListenSocket(platform::Ipv4Endpoint& address);
    [[noreturn]] void esci();

    // Connection loop: accept, read, handle, answer, close.
    void run();
    void connectionLoop();

    ClientSlot clients[MAX_CLIENTS];
    int clientCount = 0;
    int port = 0;
    platform::Socket listenSocket = platform::NO_SOCKET;
    std::string name;
    std::string version;
    std::string date;
    int stopRequested = 0;
    platform::Ipv4Endpoint listenAddress;
    RequestContext requests;

private:
    void acceptClient();
    // With every slot taken, closes the client connected longest that has
    // not sent a whole request; false when there is none.
    bool evictWaitingClient();
    // Reads what the client sent and adds it to the slot's request.
    enum class ReadOutcome { Data, Closed, Failed, Nothing };
    ReadOutcome readClientData(ClientSlot& slot);
    // The one step for a readable client: read, then handle or reject,
    // answer and close once the request is whole.
    void serveClient(ClientSlot& slot);
    void handleAndClose(ClientSlot& slot);
    // Sends the answer in one go and logs its body.
    void answer(const ClientSlot& slot, const HTTPResponse& response);
    // Closes the client's socket and frees its slot.
    void closeClient(ClientSlot& slot);

    std::uint64_t accepts = 0;  // connections taken so far
    // Until then the listener stays out of the wait (monotonic
    // milliseconds): the process has no descriptor left for a new client.
    std::int64_t listenerPausedUntil = 0;
};

// A request that reaches this size is cut there, rejected and closed.
constexpr std::size_t MAX_REQUEST_BYTES = 64 * 1024;

// Timing and sizes of the connection loop.
constexpr long LOOP_WAIT_MS = 1200L * 1000;       // longest single wait
constexpr long INCOMPLETE_CHECK_MS = 1000;        // wait while a request is incomplete
constexpr double INCOMPLETE_LIMIT_SECONDS = 3.0;  // an incomplete request older than this is closed
constexpr long ACCEPT_PAUSE_MS = 100;             // listener rest when descriptors run out
constexpr double SWEEP_INTERVAL_SECONDS = 20.0;   // a sweep pass comes after more than this
constexpr double IDLE_LIMIT_SECONDS = 3.0;        // a silent client older than this is swept
constexpr std::size_t READ_CHUNK_BYTES = 2048;
