#include "protocol/allowed_origins.h"

#include <cstddef>

#include "protocol/origin.h"

namespace {

const char UTF8_BOM[] = "\xEF\xBB\xBF";

std::string trimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The entry as a browser would send it: the default port of http and https
// dropped. entry is a serialized origin.
std::string withoutDefaultPort(const std::string& entry) {
    const std::string scheme = lowerAscii(entry.substr(0, entry.find("://")));
    const std::string defaultPort = scheme == "http" ? ":80" : scheme == "https" ? ":443" : "";
    // The port is whatever follows the last ":" outside the host's brackets;
    // a bracketed host ends in "]", so ":80" at the end is always the port.
    if (!defaultPort.empty() && endsWith(entry, defaultPort)) {
        return entry.substr(0, entry.size() - defaultPort.size());
    }
    return entry;
}

}  // namespace

AllowedOriginsParse parseAllowedOrigins(const std::string& fileText) {
    AllowedOriginsParse result;
    std::size_t start = fileText.compare(0, 3, UTF8_BOM) == 0 ? 3 : 0;
    int lineNumber = 0;
    while (start < fileText.size()) {
        std::size_t end = fileText.find('\n', start);
        if (end == std::string::npos) end = fileText.size();
        std::string line = fileText.substr(start, end - start);
        start = end + 1;
        ++lineNumber;

        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        line = trimBlanks(line);
        if (line.empty()) continue;

        std::string entry = line;
        if (entry.back() == '/') entry.pop_back();
        if (!isSerializedOrigin(entry)) {
            result.invalidLines.push_back({lineNumber, line});
            continue;
        }
        result.allowed.origins.push_back(withoutDefaultPort(entry));
    }
    return result;
}

bool isOriginAllowed(const AllowedOrigins& allowed, const std::string& sentOrigin) {
    if (sentOrigin.empty()) return false;
    for (const std::string& listed : allowed.origins) {
        if (originMatches(listed, sentOrigin)) return true;
    }
    return false;
}
