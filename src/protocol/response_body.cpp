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

// JavaScript's reserved words, the strict-mode and future ones included: as
// a callback any of them makes the answer a syntax error in the page.
bool isReservedWord(const std::string& name) {
    static const char* const RESERVED[] = {
        "await",     "break",  "case",     "catch",  "class",      "const",   "continue",  "debugger",
        "default",   "delete", "do",       "else",   "enum",       "export",  "extends",   "false",
        "finally",   "for",    "function", "if",     "implements", "import",  "in",        "instanceof",
        "interface", "let",    "new",      "null",   "package",    "private", "protected", "public",
        "return",    "static", "super",    "switch", "this",       "throw",   "true",      "try",
        "typeof",    "var",    "void",     "while",  "with",       "yield",
    };
    for (const char* word : RESERVED)
        if (name == word) return true;
    return false;
}

}  // namespace

bool isValidCallback(const std::string& callback) {
    if (callback.empty() || callback.size() > MAX_CALLBACK_BYTES) return false;
    std::size_t nameStart = 0;
    for (;;) {
        const std::size_t dot = callback.find('.', nameStart);
        const std::string name =
            callback.substr(nameStart, dot == std::string::npos ? std::string::npos : dot - nameStart);
        if (name.empty() || !isIdentifierStart(name[0]) || isReservedWord(name)) return false;
        for (char c : name)
            if (!isIdentifierPart(c)) return false;
        if (dot == std::string::npos) return true;
        nameStart = dot + 1;
    }
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
