#include "protocol/response_body.h"

#include "protocol/request_params.h"

namespace {

bool isIdentifierStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
}

bool isIdentifierPart(char c) {
    return isIdentifierStart(c) || (c >= '0' && c <= '9');
}

const std::size_t MAX_CALLBACK_BYTES = 128;

}  // namespace

bool isValidCallback(const std::string& callback) {
    if (callback.empty() || callback.size() > MAX_CALLBACK_BYTES) return false;
    bool atIdentifierStart = true;
    for (char c : callback) {
        if (atIdentifierStart) {
            if (!isIdentifierStart(c)) return false;
            atIdentifierStart = false;
        } else if (c == '.') {
            atIdentifierStart = true;
        } else if (!isIdentifierPart(c)) {
            return false;
        }
    }
    // A trailing dot leaves an empty last identifier.
    return !atIdentifierStart;
}

std::string jsonEscape(const std::string& text) {
    static const char HEX[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                escaped += "\\\"";
                break;
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    escaped += "\\u00";
                    escaped += HEX[byte >> 4];
                    escaped += HEX[byte & 0x0F];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

std::string buildResponseBody(const RequestParams& params, const std::string& status) {
    if (params.callback.empty()) return std::string();

    std::string result = "Success";
    std::string message = status;
    if (status == "Installed") {
        message = "NotRunning";
    } else if (status == "FailedStartingZanfiro") {
        result = "Error";
    }

    std::string body;
    body += params.callback;
    body += "({";
    body += "\"request-id\":\"" + jsonEscape(params.requestId) + "\",";
    body += "\"secret-key\":\"" + jsonEscape(params.secretKey) + "\",";
    body += "\"request-type\": \"" + jsonEscape(params.command) + "\",";
    body += "\"response\":{\"result\":\"" + result + "\",";
    body += "\"message\":\"" + jsonEscape(message) + "\"}})";
    return body;
}
