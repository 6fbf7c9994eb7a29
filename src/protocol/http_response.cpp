#include "protocol/http_response.h"

const char* const BAD_REQUEST_HEADER = "HTTP/1.0 400 Bad Request\r\n";

namespace {
const char* const OK_HEADER = "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\n";
}

HTTPResponse::HTTPResponse(const std::string& body) : body(body), header(OK_HEADER) {}

HTTPResponse::HTTPResponse(const std::string& body, const std::string& header) : body(body), header(header) {}

HTTPResponse rejectionResponse() {
    return HTTPResponse("", BAD_REQUEST_HEADER);
}

void HTTPResponse::allowOrigin(const std::string& origin) {
    header += "Access-Control-Allow-Origin: " + origin + "\r\n";
    header += "Vary: Origin\r\n";
}

std::string HTTPResponse::serialize() const {
    std::string text;
    text.reserve(header.size() + 40 + body.size());
    text += header;
    text += "Content-Length: ";
    text += std::to_string(body.size());
    text += "\r\n\r\n";
    text += body;
    return text;
}
