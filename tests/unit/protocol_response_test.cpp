#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/http_response.h"
#include "protocol/request_params.h"
#include "protocol/response_body.h"

namespace {

TEST(HTTPResponse, GetAppStatusAnswerIsByteExact) {
    const RequestParams params("getAppStatus?request-id=17&callback=cb1");
    const std::string body = buildResponseBody(params, "Installed");
    EXPECT_EQ(body,
              "cb1({\"request-id\":\"17\",\"secret-key\":\"\",\"request-type\": \"getAppStatus\","
              "\"response\":{\"result\":\"Success\",\"message\":\"NotRunning\"}})");
    EXPECT_EQ(body.size(), 126u);

    const std::string wire = HTTPResponse(body).serialize();
    EXPECT_EQ(wire, "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: 126\r\n\r\n" + body);
    EXPECT_EQ(wire.size(), 197u);
}

TEST(HTTPResponse, RejectionIs47Bytes) {
    const HTTPResponse response("", BAD_REQUEST_HEADER);
    EXPECT_EQ(response.header, "HTTP/1.0 400 Bad Request\r\n");
    EXPECT_EQ(response.serialize(), "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(response.serialize().size(), 47u);
}

TEST(HTTPResponse, EmptyCallbackGivesEmptyBodyAnd69ByteAnswer) {
    const RequestParams params("getAppStatus?request-id=17");
    const std::string body = buildResponseBody(params, "Installed");
    EXPECT_EQ(body, "");
    const std::string wire = HTTPResponse(body).serialize();
    EXPECT_EQ(wire, "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(wire.size(), 69u);
}

TEST(HTTPResponse, ContentLengthCountsBytesAndCopiesKeepBothTexts) {
    // Two bytes above 127 and a NUL inside the body: each counts once.
    const std::string body("a\xe9\xff\0z", 5);
    const HTTPResponse original(body, "X-Test\r\n");
    const HTTPResponse copy = original;
    EXPECT_EQ(copy.serialize(), std::string("X-Test\r\nContent-Length: 5\r\n\r\n") + body);
    EXPECT_EQ(copy.body, original.body);
    EXPECT_EQ(copy.header, original.header);
}

struct StatusCase {
    std::string status;
    std::string result;
    std::string message;
};

TEST(BuildResponseBody, ResultAndMessageFromTheStatusWord) {
    const std::vector<StatusCase> cases = {
        {"Installed", "Success", "NotRunning"},
        {"StartingZanfiro", "Success", "StartingZanfiro"},
        {"FailedStartingZanfiro", "Error", "FailedStartingZanfiro"},
        {"installed", "Success", "installed"},
        {"Other", "Success", "Other"},
        {"", "Success", ""},
    };
    const RequestParams params("startZanfiro?request-id=2&secret-key=k&callback=cb");
    for (const StatusCase& c : cases) {
        EXPECT_EQ(buildResponseBody(params, c.status),
                  "cb({\"request-id\":\"2\",\"secret-key\":\"k\",\"request-type\": \"startZanfiro\","
                  "\"response\":{\"result\":\"" +
                      c.result + "\",\"message\":\"" + c.message + "\"}})")
            << "status: " << c.status;
    }
}

TEST(BuildResponseBody, ValuesAreJsonEscaped) {
    // A page's values can no longer break out of their JSON strings.
    RequestParams params("");
    params.callback = "cb";
    params.requestId = "a\"b";
    params.secretKey = "c\\d";
    params.command = "x\ny";
    EXPECT_EQ(buildResponseBody(params, "q\"\t"),
              "cb({\"request-id\":\"a\\\"b\",\"secret-key\":\"c\\\\d\",\"request-type\": \"x\\ny\","
              "\"response\":{\"result\":\"Success\",\"message\":\"q\\\"\\t\"}})");
}

TEST(JsonEscape, EscapesQuotesBackslashesAndControlBytesOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"plain 12 %20+=&?", "plain 12 %20+=&?"},
        {"\"", "\\\""},
        {"\\", "\\\\"},
        {"\n\r\t", "\\n\\r\\t"},
        {std::string("\0", 1), "\\u0000"},
        {"\x01\x08\x0c\x1f", "\\u0001\\u0008\\u000c\\u001f"},
        {" \x7f\x80\xe9\xff", " \x7f\x80\xe9\xff"},  // 0x20 and above pass unchanged
        {"</script>", "</script>"},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonEscape(c.first), c.second) << "text: " << c.first;
}

TEST(IsValidCallback, AcceptsNamePathsOnly) {
    const std::vector<std::string> valid = {
        "cb",    "cb1",   "_",        "$", "jQuery18305_1234",
        "ns.cb", "a.b.c", "$.fn._x9", "A", "x" + std::string(127, 'y'),
    };
    for (const std::string& name : valid) EXPECT_TRUE(isValidCallback(name)) << name;

    const std::vector<std::string> invalid = {
        "",
        "1cb",
        "ns.1cb",
        ".cb",
        "cb.",
        "a..b",
        "cb()",
        "cb;alert(1)",
        "cb(1)//",
        "a b",
        "a-b",
        "a[0]",
        "%61",
        "\xe9t\xe9",
        std::string("cb\0", 3),
        "x" + std::string(128, 'y'),  // 129 bytes
    };
    for (const std::string& name : invalid) EXPECT_FALSE(isValidCallback(name)) << name;
}

TEST(IsValidCallback, ReservedWordsAreNoNames) {
    // A reserved word as the callback makes the whole answer a syntax error
    // in the page; in any place of the path it is refused.
    const std::vector<std::string> reserved = {
        "break",     "case",     "catch",   "class",     "const",  "continue",   "debugger", "default",
        "delete",    "do",       "else",    "enum",      "export", "extends",    "false",    "finally",
        "for",       "function", "if",      "import",    "in",     "instanceof", "new",      "null",
        "return",    "super",    "switch",  "this",      "throw",  "true",       "try",      "typeof",
        "var",       "void",     "while",   "with",      "yield",  "let",        "static",   "implements",
        "interface", "package",  "private", "protected", "public", "await",
    };
    for (const std::string& word : reserved) {
        EXPECT_FALSE(isValidCallback(word)) << word;
        EXPECT_FALSE(isValidCallback("ns." + word)) << word;
        EXPECT_FALSE(isValidCallback(word + ".cb")) << word;
    }
    // Names that only contain or resemble one are fine.
    for (const std::string name :
         {"iff", "If", "dox", "ifx.cb", "ns.forEach", "newCb", "_if", "$in", "async", "of"})
        EXPECT_TRUE(isValidCallback(name)) << name;
}

}  // namespace
