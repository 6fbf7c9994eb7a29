// Turning a received request text into its URL and query fields.
#pragma once

#include <string>
#include <vector>

// The request target without its leading slash, query included: from five
// characters after the first "GET" to the last blank of that line (or the
// line's end). Empty when the text has no "GET".
std::string extractUrl(const std::string& request);

// Appends the pieces of text between delimiters to pieces and returns it.
std::vector<std::string>& split(const std::string& text, char delimiter, std::vector<std::string>& pieces);
std::vector<std::string> split(const std::string& text, char delimiter);

struct RequestParams {
    explicit RequestParams(const std::string& url);

    std::string url;
    std::string command;
    std::string secretKey;
    std::string requestId;
    std::string callback;
    std::string to;
    std::string userId;
};
