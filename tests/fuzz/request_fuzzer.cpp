// libFuzzer target over the whole request path without sockets: the received
// text goes through handleRequest (the quit word, URL extraction, the
// parameter record, the request-id and callback tests, the launch and the
// answer builder), on the fake platform. Besides crashes and sanitizer
// reports, every input's answer is checked against what the protocol
// promises; a broken promise prints the input and aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "fake/fake_platform.h"
#include "protocol/control_words.h"
#include "protocol/request_handler.h"
#include "protocol/request_params.h"

namespace {

const std::string REJECTION = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
const std::string OK_HEAD = "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: ";

const std::string* currentInput = nullptr;

std::string escaped(const std::string& text) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

[[noreturn]] void fail(const std::string& what, const std::string& answer = std::string()) {
    std::fprintf(stderr, "\n==== request property failed: %s\n", what.c_str());
    std::fprintf(stderr, "input (%zu bytes, escaped): \"%s\"\n", currentInput->size(), escaped(*currentInput).c_str());
    if (!answer.empty()) std::fprintf(stderr, "answer: \"%s\"\n", escaped(answer).c_str());
    std::fflush(stderr);
    std::abort();
}

// A callback the page can call: identifiers of ASCII letters, digits, "_" and
// "$" (no digit first) joined by single dots, none a JavaScript reserved
// word, at most 128 bytes. Written apart from the product's check on
// purpose.
bool callbackIsSafe(const std::string& callback) {
    static const std::regex NAME_PATH("[A-Za-z_$][A-Za-z0-9_$]*(\\.[A-Za-z_$][A-Za-z0-9_$]*)*");
    static const std::regex RESERVED(
        "(^|\\.)(break|case|catch|class|const|continue|debugger|default|delete|do|else|enum|export|extends|"
        "finally|for|function|if|import|in|instanceof|new|return|super|switch|this|throw|try|typeof|var|void|"
        "while|with|yield|let|static|implements|interface|package|private|protected|public|await|null|true|"
        "false)(\\.|$)");
    return callback.size() <= 128 && std::regex_match(callback, NAME_PATH) && !std::regex_search(callback, RESERVED);
}

bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t more;
        unsigned long code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= text.size()) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = (code << 6) | (d & 0x3F);
        }
        if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

// JSON's structure is all ASCII: a byte of 0x80 or above can only sit inside
// a string. Where the request carried bytes that are not UTF-8 (which the
// launcher passes on unchanged), each such byte is mapped to "?" on both
// sides, so the strict parser still checks the structure and the escaping.
std::string asciiOnly(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return out;
}

void checkBody(const std::string& body, const RequestParams& params, const std::string& result,
               const std::string& message, const std::string& answer) {
    if (params.callback.empty()) {
        if (!body.empty()) fail("a request without a callback got a body", answer);
        return;
    }
    if (!callbackIsSafe(params.callback)) fail("an unsafe callback was answered", answer);
    const std::string open = params.callback + "(";
    if (body.size() < open.size() + 1 || body.compare(0, open.size(), open) != 0 || body.back() != ')')
        fail("the body is not callback(...)", answer);
    const std::string object = body.substr(open.size(), body.size() - open.size() - 1);

    const bool utf8 = isUtf8(object);
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(utf8 ? object : asciiOnly(object));
    } catch (const nlohmann::json::exception& e) {
        fail(std::string("the body's object is not JSON: ") + e.what(), answer);
    }
    if (!json.is_object()) fail("the body does not hold one JSON object", answer);
    auto field = [&](const nlohmann::json& in, const char* key) -> std::string {
        if (!in.contains(key) || !in[key].is_string()) fail(std::string("no string \"") + key + "\"", answer);
        return in[key].get<std::string>();
    };
    auto expect = [&](const std::string& text) { return utf8 ? text : asciiOnly(text); };
    if (field(json, "request-id") != expect(params.requestId)) fail("request-id changed", answer);
    if (field(json, "secret-key") != expect(params.secretKey)) fail("secret-key changed", answer);
    if (field(json, "request-type") != expect(params.command)) fail("request-type changed", answer);
    if (!json.contains("response") || !json["response"].is_object()) fail("no response object", answer);
    if (field(json["response"], "result") != result || field(json["response"], "message") != message)
        fail("wrong result or message: expected " + result + "/" + message, answer);
    if (json.size() != 4 || json["response"].size() != 2) fail("unexpected members in the object", answer);
}

void checkRequest(const std::string& request, int variant) {
    fake::reset();
    fake::state().programFolders = {"/opt"};
    fake::state().programStartSucceeds = variant != 1;
    RequestContext context;
    // Variant 2: a start was made a second ago, so a start is held off.
    if (variant == 2) context.lastStartTime = fake::state().now - 1;

    const HandledRequest handled = handleRequest(request, context);
    const std::string answer = handled.answer.serialize();

    const bool quitWord = request.compare(0, sizeof QUIT_WORD - 1, QUIT_WORD) == 0;
    if (quitWord) {
        if (handled.action != RequestAction::Quit) fail("the quit word did not quit", answer);
        if (answer != REJECTION) fail("the quit word's answer is not the rejection", answer);
        return;
    }
    if (handled.action == RequestAction::Quit) fail("quit without the quit word", answer);

    const RequestParams params(extractUrl(request));
    const bool wellFormed = !params.requestId.empty() && (params.callback.empty() || callbackIsSafe(params.callback));
    const bool known = params.command == "getAppStatus" || params.command == "startZanfiro";

    if (handled.action == RequestAction::NoAnswer) {
        if (!wellFormed || known) fail("no answer for a request that must be answered", answer);
        if (!fake::state().programStarts.empty()) fail("a program was started without an answer");
        return;
    }
    if (answer == REJECTION) {
        if (wellFormed) fail("a well-formed request was rejected", answer);
        if (!fake::state().programStarts.empty()) fail("a rejected request started the program", answer);
        return;
    }
    if (!wellFormed) fail("a malformed request was answered with a 200", answer);
    if (!known) fail("an unknown command was answered", answer);

    // header, Content-Length in decimal, blank line, body
    if (answer.compare(0, OK_HEAD.size(), OK_HEAD) != 0) fail("neither the rejection nor a 200", answer);
    const std::size_t digitsEnd = answer.find("\r\n\r\n", OK_HEAD.size());
    if (digitsEnd == std::string::npos || digitsEnd == OK_HEAD.size()) fail("no Content-Length", answer);
    const std::string digits = answer.substr(OK_HEAD.size(), digitsEnd - OK_HEAD.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
        fail("Content-Length is not a number", answer);
    const std::string body = answer.substr(digitsEnd + 4);
    if (std::stoul(digits) != body.size()) fail("Content-Length differs from the body's length", answer);

    const auto& starts = fake::state().programStarts;
    if (params.command == "getAppStatus") {
        if (!starts.empty()) fail("getAppStatus started the program", answer);
        checkBody(body, params, "Success", "NotRunning", answer);
    } else if (variant == 2) {
        if (!starts.empty()) fail("a start inside the hold-off was made", answer);
        checkBody(body, params, "Success", "StartingZanfiro", answer);
    } else {
        // The user id reaches the program as one argument, unchanged.
        if (starts.size() != 1 || starts[0].argument != "-w=" + params.userId)
            fail("the program was not started once with -w=<userid>", answer);
        if (variant == 1)
            checkBody(body, params, "Error", "FailedStartingZanfiro", answer);
        else
            checkBody(body, params, "Success", "StartingZanfiro", answer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    currentInput = &request;
    // The length picks the launch's situation, so every input keeps one
    // meaning when it is run again: 0 starts, 1 the start fails, 2 held off.
    checkRequest(request, static_cast<int>(size % 3));
    currentInput = nullptr;
    return 0;
}
