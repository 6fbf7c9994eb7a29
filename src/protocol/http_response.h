// One HTTP answer and its bytes on the wire.
#pragma once

#include <string>

class HTTPResponse {
public:
    // The 200 answer carrying a JSONP body.
    explicit HTTPResponse(const std::string& body);
    HTTPResponse(const std::string& body, const std::string& header);
    virtual ~HTTPResponse() = default;

    // header, Content-Length, blank line, body.
    std::string serialize() const;

    // Lets a page from origin read the answer (a script loaded with
    // crossorigin): Access-Control-Allow-Origin and Vary: Origin.
    void allowOrigin(const std::string& origin);

    std::string body;
    std::string header;
};

extern const char* const BAD_REQUEST_HEADER;  // "HTTP/1.0 400 Bad Request\r\n"

// The 400 answer without a body, for every text the server refuses.
HTTPResponse rejectionResponse();
