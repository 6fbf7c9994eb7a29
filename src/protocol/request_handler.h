// Acting on one received request: the quit word, the rejection, the two
// commands. Handling decides the answer; the server sends it.
#pragma once

#include <ctime>
#include <string>

#include "protocol/allowed_origins.h"
#include "protocol/http_response.h"

struct RequestParams;

// What the server does once a request is handled.
enum class RequestAction {
    Answer,    // send the answer, then close the connection
    NoAnswer,  // close the connection without a word
    Quit,      // send the answer, close, and end the process with 0
};

struct HandledRequest {
    RequestAction action = RequestAction::NoAnswer;
    HTTPResponse answer{""};
};

// What request handling keeps from one request to the next; the server
// thread owns the one instance.
struct RequestContext {
    // Clock second of the last start attempt that passed the rate limit.
    std::time_t lastStartTime = 0;
    // The page origins the owner allows, when the list exists; without a
    // list every page is answered.
    bool originsListed = false;
    AllowedOrigins allowedOrigins;
};

// Reads allowed-origins.txt from the user's configuration folder into
// context, and logs what it found. Called once, when the server starts.
void loadAllowedOrigins(RequestContext& context);

HandledRequest handleRequest(const std::string& request, RequestContext& context);

bool isGetAppStatus(const RequestParams& params);
bool isStartZanfiro(const RequestParams& params);
