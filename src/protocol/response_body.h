// The JSONP body that answers a command.
#pragma once

#include <string>

struct RequestParams;

// callback({...}) for the request and status word; empty when the request has
// no callback.
std::string buildResponseBody(const RequestParams& params, const std::string& status);

// True for a JavaScript name path (identifiers joined by single dots, none of
// them a reserved word, at most 128 bytes): the only callbacks the server
// answers.
bool isValidCallback(const std::string& callback);

// Text as the contents of a JSON string.
std::string jsonEscape(const std::string& text);
