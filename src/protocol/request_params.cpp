#include "protocol/request_params.h"

std::string extractUrl(const std::string& request) {
    const std::size_t get = request.find("GET");
    if (get == std::string::npos) return std::string();
    // The target starts after "GET" and the two characters that follow it
    // (blank and slash), and ends at the last blank of its line, the one
    // before the HTTP version; a line without one ends the target itself.
    // Searching for "HTTP" instead would cut ids and keys that hold it.
    const std::size_t start = get + 5;
    if (start >= request.size()) return std::string();
    std::size_t lineEnd = request.find_first_of("\r\n", start);
    if (lineEnd == std::string::npos) lineEnd = request.size();
    const std::size_t lastBlank = request.find_last_of(' ', lineEnd - 1);
    const std::size_t end = lastBlank != std::string::npos && lastBlank >= start ? lastBlank : lineEnd;
    return request.substr(start, end - start);
}

std::vector<std::string>& split(const std::string& text, char delimiter, std::vector<std::string>& pieces) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(delimiter, start);
        if (end == std::string::npos) {
            pieces.push_back(text.substr(start));
            break;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    split(text, delimiter, pieces);
    return pieces;
}

RequestParams::RequestParams(const std::string& url) : url(url) {
    const std::size_t question = url.find('?');
    if (question == std::string::npos) return;
    command = url.substr(0, question);

    for (const std::string& item : split(url.substr(question + 1), '&')) {
        // An item without "=" is a key with an empty value.
        const std::size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);

        if (key == "request-id") {
            requestId = value;
        } else if (key == "secret-key") {
            secretKey = value;
        } else if (key == "jasonp" || key == "callback" || key == "amp;callback") {
            callback = value;
        } else if (key == "userid") {
            userId = value;
        } else if (key == "to") {
            to = value;
        }
    }
}
