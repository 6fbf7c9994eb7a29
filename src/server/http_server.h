// The local HTTP server: its client table, listener and connection loop.
#pragma once

#include <ctime>
#include <string>

#include "platform/socket.h"

struct RequestParams;
class HTTPResponse;

constexpr int LAUNCHER_PORT = 5560;
constexpr int MAX_CLIENTS = 63;  // one less than the 64 places of a socket set

struct ClientSlot {
    int index = 0;
    platform::Socket socket = platform::NO_SOCKET;  // negative: the slot is free
    std::time_t connectTime = 0;
    char peerAddress[20] = {};
    int peerPort = 0;
    int keepOpen = 0;
    int spare = 0;
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

    // Connection loop.
    void run();
    void connectionLoop();
    long readClientData(ClientSlot* slot, std::string& request);
    // Closes the client's socket, takes it out of the master set and frees
    // its slot.
    void closeClient(ClientSlot* slot, platform::SocketSet& master);

    // Request handling.
    int handleRequest(ClientSlot* slot, const std::string& request);
    void sendResponse(ClientSlot* slot, HTTPResponse response);

    ClientSlot clients[MAX_CLIENTS];
    int clientCount = 0;
    int port = 0;
    platform::Socket listenSocket = platform::NO_SOCKET;
    std::string name;
    std::string version;
    std::string date;
    int stopRequested = 0;
    platform::Ipv4Endpoint listenAddress;
};

bool isGetAppStatus(const RequestParams& params);
bool isStartZanfiro(const RequestParams& params);

// A request that reaches this size is cut there, rejected and closed.
constexpr std::size_t MAX_REQUEST_BYTES = 64 * 1024;

// Timing and sizes of the connection loop.
constexpr long LOOP_WAIT_SECONDS = 1200;         // longest single wait
constexpr double SWEEP_INTERVAL_SECONDS = 20.0;  // a sweep pass comes after more than this
constexpr double IDLE_LIMIT_SECONDS = 3.0;       // a silent client older than this is swept
constexpr std::size_t READ_CHUNK_BYTES = 2048;

// The master set of the loop: the listener first, then the clients in the
// order they came. A socket is added at the end, once, while there is room;
// removing one moves the later ones down. False when it was not added.
bool addToMasterSet(platform::SocketSet& set, platform::Socket s);
void removeFromMasterSet(platform::SocketSet& set, platform::Socket s);
