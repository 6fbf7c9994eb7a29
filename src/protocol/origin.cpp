#include "protocol/origin.h"

#include <cstddef>

namespace {

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

std::string trimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool allDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isDigit(c)) return false;
    }
    return true;
}

// The value of up to five decimal digits (callers check the count).
long decimalValue(const std::string& digits) {
    long value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

bool isScheme(const std::string& text) {
    if (text.empty() || !isAsciiLetter(text[0])) return false;
    for (char c : text) {
        if (!isAsciiLetter(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// Four decimal parts of 0 to 255, without leading zeros, as browsers write
// an IPv4 host.
bool isDottedQuad(const std::string& text) {
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos) return false;
        const std::string digits = text.substr(start, end - start);
        if (!allDigits(digits) || digits.size() > 3) return false;
        if (digits.size() > 1 && digits[0] == '0') return false;
        if (decimalValue(digits) > 255) return false;
        start = end + 1;
    }
    return start == text.size() + 1;
}

// A DNS-style name: labels of 1 to 63 letters, digits, "-" or "_", joined by
// single dots, 253 bytes at most. A name whose last label is a number is an
// IPv4 address to a browser and must then be a dotted quad.
bool isHostName(const std::string& text) {
    if (text.empty() || text.size() > 253) return false;
    std::size_t start = 0;
    std::string lastLabel;
    while (true) {
        std::size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        const std::string label = text.substr(start, end - start);
        if (label.empty() || label.size() > 63) return false;
        for (char c : label) {
            if (!isAsciiLetter(c) && !isDigit(c) && c != '-' && c != '_') return false;
        }
        lastLabel = label;
        if (end == text.size()) break;
        start = end + 1;
    }
    if (allDigits(lastLabel)) return isDottedQuad(text);
    return true;
}

// Groups of 1 to 4 hex digits separated by ":", eight of them, or fewer
// with one "::" standing for the missing ones; the last two groups may be
// written as a dotted quad.
bool isIpv6Address(const std::string& text) {
    if (text.size() < 2 || text.size() > 45) return false;
    const std::size_t gap = text.find("::");
    if (gap != std::string::npos && text.find("::", gap + 1) != std::string::npos) return false;

    // Counts the groups of one side of the gap; false on a malformed side.
    auto countGroups = [](const std::string& side, bool mayEndInQuad, int& groups) {
        groups = 0;
        if (side.empty()) return true;
        std::size_t start = 0;
        while (true) {
            std::size_t end = side.find(':', start);
            const bool last = end == std::string::npos;
            if (last) end = side.size();
            const std::string group = side.substr(start, end - start);
            if (last && mayEndInQuad && group.find('.') != std::string::npos) {
                if (!isDottedQuad(group)) return false;
                groups += 2;
                return true;
            }
            if (group.empty() || group.size() > 4) return false;
            for (char c : group) {
                if (!isHexDigit(c)) return false;
            }
            ++groups;
            if (last) return true;
            start = end + 1;
        }
    };

    int before = 0;
    int after = 0;
    if (gap == std::string::npos) {
        return countGroups(text, true, before) && before == 8;
    }
    const std::string head = text.substr(0, gap);
    const std::string tail = text.substr(gap + 2);
    if (!countGroups(head, false, before) || !countGroups(tail, true, after)) return false;
    return before + after <= 7;
}

bool isPort(const std::string& text) {
    return allDigits(text) && text.size() <= 5 && decimalValue(text) <= 65535;
}

struct OriginParts {
    std::string scheme;
    std::string host;
    std::string port;  // "" when absent
};

bool splitOrigin(const std::string& text, OriginParts& parts) {
    const std::size_t separator = text.find("://");
    if (separator == std::string::npos) return false;
    parts.scheme = text.substr(0, separator);
    if (!isScheme(parts.scheme)) return false;

    const std::string rest = text.substr(separator + 3);
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        if (!isIpv6Address(rest.substr(1, close - 1))) return false;
        hostEnd = close + 1;
    } else {
        hostEnd = rest.find(':');
        if (hostEnd == std::string::npos) hostEnd = rest.size();
        if (!isHostName(rest.substr(0, hostEnd))) return false;
    }
    parts.host = rest.substr(0, hostEnd);

    parts.port.clear();
    if (hostEnd == rest.size()) return true;
    if (rest[hostEnd] != ':') return false;
    parts.port = rest.substr(hostEnd + 1);
    return isPort(parts.port);
}

}  // namespace

bool isSerializedOrigin(const std::string& text) {
    OriginParts parts;
    return splitOrigin(text, parts);
}

bool originMatches(const std::string& listed, const std::string& sent) {
    OriginParts a;
    OriginParts b;
    if (!splitOrigin(listed, a) || !splitOrigin(sent, b)) return false;
    return equalsIgnoringCase(a.scheme, b.scheme) && equalsIgnoringCase(a.host, b.host) && a.port == b.port;
}

std::string requestOrigin(const std::string& request) {
    // The head ends at the first empty line; the request line comes first
    // and is no header.
    std::size_t start = request.find('\n');
    if (start == std::string::npos) return std::string();
    ++start;

    int originCount = 0;
    bool previousWasOrigin = false;
    bool folded = false;
    std::string value;
    while (start < request.size()) {
        std::size_t end = request.find('\n', start);
        if (end == std::string::npos) end = request.size();
        std::string line = request.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        if (line.empty()) break;

        if (line[0] == ' ' || line[0] == '\t') {
            // A continuation of the previous header: an Origin spread over
            // two lines is not one we trust.
            if (previousWasOrigin) folded = true;
            continue;
        }
        const std::size_t colon = line.find(':');
        previousWasOrigin = colon != std::string::npos && equalsIgnoringCase(line.substr(0, colon), "origin");
        if (previousWasOrigin) {
            ++originCount;
            value = trimBlanks(line.substr(colon + 1));
        }
    }
    if (originCount != 1 || folded) return std::string();
    if (value == "null" || !isSerializedOrigin(value)) return std::string();
    return value;
}
