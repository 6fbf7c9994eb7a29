#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/request_params.h"

namespace {

struct UrlCase {
    std::string request;
    std::string url;
};

TEST(ExtractUrl, CutsTheTargetOutOfTheRequestLine) {
    const std::vector<UrlCase> cases = {
        {"GET /getAppStatus?request-id=7&callback=cb HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n\r\n",
         "getAppStatus?request-id=7&callback=cb"},
        {"GET /favicon.ico HTTP/1.1", "favicon.ico"},
        {"GET / HTTP/1.1", ""},
        {"ciao", ""},
        {"", ""},
        {"/a?to=1 HTTP/1.1", ""},  // no "GET"
        // The first "GET" counts wherever it stands.
        {"XGET /a?to=1 HTTP/1.1", "a?to=1"},
        // Nothing after "GET" but two characters is examined.
        {"GETxxa HTTP/1.1", "a"},
        // Case-sensitive marker.
        {"get /a?to=1 http/1.1", ""},
        // "HTTP" inside the target is part of it: the target ends at the
        // blank before the version, the last blank of the request line.
        {"GET /getAppStatus?request-id=7&callback=abHTTPcd HTTP/1.1",
         "getAppStatus?request-id=7&callback=abHTTPcd"},
        {"GET /startZanfiro?request-id=1&userid=HTTPuser HTTP/1.1\r\n\r\n",
         "startZanfiro?request-id=1&userid=HTTPuser"},
        {"GET /xHTTP", "xHTTP"},
        {"GET /HTTP/1.1", "HTTP/1.1"},
        // Raw blanks inside a hand-made target stay part of it.
        {"GET /startZanfiro?userid=u 7\"x -evil=1 HTTP/1.1\r\n\r\n", "startZanfiro?userid=u 7\"x -evil=1"},
        // Without a version the target runs to the end of its line; blanks
        // on later lines do not count; a lone LF ends a line too.
        {"GET /a?to=1", "a?to=1"},
        {"GET /a?to=1\r\nHost: b c\r\n\r\n", "a?to=1"},
        {"GET /a?to=1 HTTP/1.1\nHost: b c\n\n", "a?to=1"},
        {"GET /a ", "a"},
    };
    for (const UrlCase& c : cases) EXPECT_EQ(extractUrl(c.request), c.url) << "request: " << c.request;
}

TEST(ExtractUrl, TextEndingBeforeTheTargetGivesNoUrl) {
    // The target would start past the end of the text: nothing is read there.
    const std::vector<std::string> requests = {"GET",          "GET ",    "GET /",
                                               "HTTP/1.1 GET", "HTTPGET", "GET  \r\n"};
    for (const std::string& request : requests) EXPECT_EQ(extractUrl(request), "") << "request: " << request;
}

struct SplitCase {
    std::string text;
    std::vector<std::string> pieces;
};

TEST(Split, PiecesBetweenDelimiters) {
    const std::vector<SplitCase> cases = {
        {"a&b", {"a", "b"}},
        {"a&&b", {"a", "", "b"}},
        {"&a", {"", "a"}},
        {"a&", {"a"}},
        {"&", {""}},
        {"", {}},
        {"&&", {"", ""}},
        {"abc", {"abc"}},
        {"a=1&b=2=3", {"a=1", "b=2=3"}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(split(c.text, '&'), c.pieces) << "text: " << c.text;
}

TEST(Split, AppendsToTheGivenVectorAndReturnsIt) {
    std::vector<std::string> pieces = {"kept"};
    std::vector<std::string>& returned = split("x;y", ';', pieces);
    EXPECT_EQ(&returned, &pieces);
    EXPECT_EQ(pieces, (std::vector<std::string>{"kept", "x", "y"}));
}

struct ParamsCase {
    std::string url;
    std::string command, secretKey, requestId, callback, to, userId;
};

TEST(RequestParams, FieldsFromTheQuery) {
    const std::vector<ParamsCase> cases = {
        // url                                   command        secret  id   callback to  user
        {"", "", "", "", "", "", ""},
        {"getAppStatus", "", "", "", "", "", ""},
        {"?request-id=5", "", "", "5", "", "", ""},
        {"startZanfiro?request-id=12&callback=cb&userid=u7&to=x&foo=bar&request-id=13", "startZanfiro", "",
         "13", "cb", "x", "u7"},
        {"getAppStatus?secret-key=s3&request-id=1", "getAppStatus", "s3", "1", "", "", ""},
        // Keys match whole and case-sensitively.
        {"c?Request-Id=3&request-id2=3", "c", "", "", "", "", ""},
        // A value keeps further "=".
        {"c?request-id=a=b", "c", "", "a=b", "", "", ""},
        // The last item for a field wins, whichever of its keys it uses.
        {"c?callback=a&jasonp=b", "c", "", "", "b", "", ""},
        {"c?jasonp=a&amp;callback=b", "c", "", "", "b", "", ""},
        {"c?amp;callback=cb", "c", "", "", "cb", "", ""},
        {"c?request-id=7&request-id=", "c", "", "", "", "", ""},
        // Empty items and the empty key are skipped.
        {"c?&&request-id=3&", "c", "", "3", "", "", ""},
        {"c?=5&request-id=3", "c", "", "3", "", "", ""},
        // Nothing is decoded or trimmed.
        {"c?userid=a%20b+c &to= x", "c", "", "", "", " x", "a%20b+c "},
        // Only the first "?" separates the command.
        {"c?to=a?b", "c", "", "", "", "a?b", ""},
    };
    for (const ParamsCase& c : cases) {
        const RequestParams params(c.url);
        SCOPED_TRACE("url: " + c.url);
        EXPECT_EQ(params.url, c.url);
        EXPECT_EQ(params.command, c.command);
        EXPECT_EQ(params.secretKey, c.secretKey);
        EXPECT_EQ(params.requestId, c.requestId);
        EXPECT_EQ(params.callback, c.callback);
        EXPECT_EQ(params.to, c.to);
        EXPECT_EQ(params.userId, c.userId);
    }
}

TEST(RequestParams, ItemWithoutEqualsIsAKeyWithEmptyValue) {
    // A bare "request-id" must not pass as a request id, and a bare key
    // empties its field like "key=" does.
    const RequestParams bare("getAppStatus?request-id&to");
    EXPECT_EQ(bare.requestId, "");
    EXPECT_EQ(bare.to, "");

    const RequestParams emptied("getAppStatus?request-id=9&callback=cb&request-id&callback");
    EXPECT_EQ(emptied.requestId, "");
    EXPECT_EQ(emptied.callback, "");
}

TEST(RequestParams, ProbeTextGivesAnEmptyRecord) {
    const RequestParams params(extractUrl("ciao"));
    EXPECT_EQ(params.url, "");
    EXPECT_EQ(params.command, "");
    EXPECT_EQ(params.requestId, "");
    EXPECT_EQ(params.callback, "");
}

}  // namespace
