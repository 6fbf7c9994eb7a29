#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/allowed_origins.h"
#include "protocol/origin.h"

namespace {

std::string requestWith(const std::string& headers) {
    return "GET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n" + headers +
           "\r\n";
}

TEST(SerializedOrigin, AcceptsWhatBrowsersSend) {
    const std::vector<std::string> origins = {
        "http://localhost:8000",
        "https://shop.example.com",
        "https://public.test:8443",
        "http://127.0.0.1:5561",
        "http://0.0.0.0",
        "http://255.255.255.255:65535",
        "https://[::1]:8443",
        "http://[2001:db8::7]",
        "http://[1:2:3:4:5:6:7:8]",
        "http://[::ffff:192.168.0.1]",
        "https://xn--bcher-kva.example",
        "http://my_host-1.local",
        "chrome-extension://abcdefghijklmnop",
        "HTTPS://Shop.Example.COM",
        "http://a:1",
    };
    for (const std::string& origin : origins) EXPECT_TRUE(isSerializedOrigin(origin)) << origin;
}

TEST(SerializedOrigin, RejectsEverythingElse) {
    const std::vector<std::string> texts = {
        "",
        "null",
        "localhost:8000",       // no scheme
        "//localhost",          // empty scheme
        "1http://a",            // scheme starts with a digit
        "ht_tp://a",            // "_" is not a scheme character
        "http:/a",              // one slash
        "http://",              // no host
        "http://:80",           // no host before the port
        "http://a/",            // trailing slash
        "http://a/path",        // path
        "http://a?x=1",         // query
        "http://a#top",         // fragment
        "http://user@a",        // user info
        "http://user:pw@a:80",  // user info with a password
        "http://a:",            // empty port
        "http://a:65536",       // port too large
        "http://a:123456",      // six digits
        "http://a:8a",          // not a number
        "http://a:-1",
        "http://a:80:81",  // two ports
        "http://a..b",     // empty label
        "http://.a",
        "http://a.",   // trailing dot
        "http://a b",  // blank inside
        " http://a",   // blank outside (callers trim)
        "http://a ",
        "http://a\tb",                   // tab
        std::string("http://a\0b", 10),  // NUL
        "http://a\x01",                  // control byte
        "http://\xC3\xA4.example",       // not punycode
        "http://1.2.3",                  // numeric last label, not a dotted quad
        "http://256.1.1.1",
        "http://01.2.3.4",  // leading zero
        "http://1.2.3.4.5",
        "http://[::1",  // open bracket
        "http://::1",   // IPv6 without brackets
        "http://[]",
        "http://[:::1]",
        "http://[1::2::3]",            // two gaps
        "http://[1:2:3:4:5:6:7:8:9]",  // nine groups
        "http://[1:2:3:4:5:6:7]",      // seven groups, no gap
        "http://[12345::1]",           // group too long
        "http://[g::1]",               // not hex
        "http://[::1]x",               // text after the bracket
        "http://[::1]:",
        "http://[::256.1.1.1]",                                      // bad embedded IPv4
        std::string("http://") + std::string(64, 'a') + ".example",  // label too long
    };
    for (const std::string& text : texts) EXPECT_FALSE(isSerializedOrigin(text)) << text;
}

TEST(SerializedOrigin, LongestNameAndLabelStillPass) {
    const std::string label(63, 'a');
    EXPECT_TRUE(isSerializedOrigin("http://" + label + ".example"));
    // 4 labels of 63 and one dot each: 255 bytes, over the limit of 253.
    const std::string tooLong = label + "." + label + "." + label + "." + label;
    EXPECT_FALSE(isSerializedOrigin("http://" + tooLong));
    EXPECT_TRUE(isSerializedOrigin("http://" + tooLong.substr(0, 253)));
}

struct MatchCase {
    std::string listed;
    std::string sent;
    bool matches;
};

TEST(OriginMatches, SchemeAndHostIgnoreCasePortIsExact) {
    const std::vector<MatchCase> cases = {
        {"https://shop.example", "https://shop.example", true},
        {"HTTPS://Shop.Example", "https://shop.example", true},
        {"https://shop.example", "HTTPS://SHOP.EXAMPLE", true},
        {"http://[::ABCD]:80", "http://[::abcd]:80", true},
        {"http://localhost:8000", "http://localhost:8000", true},
        {"http://localhost:8000", "http://localhost:8001", false},
        {"http://localhost:8000", "http://localhost", false},
        {"http://localhost", "http://localhost:80",
         false},  // default ports are dropped from the list, not here
        {"http://shop.example", "https://shop.example", false},
        {"https://shop.example", "https://www.shop.example", false},
        {"https://shop.example", "https://shop.example.evil.test", false},
        {"https://shop.example", "https://shop.exampl", false},
        {"https://shop.example", "", false},
        {"", "", false},
        {"null", "null", false},
        {"https://shop.example/", "https://shop.example/", false},  // not origins
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(originMatches(c.listed, c.sent), c.matches) << c.listed << " vs " << c.sent;
    }
}

struct HeaderCase {
    std::string request;
    std::string origin;
};

TEST(RequestOrigin, TakesTheOneWellFormedOriginHeader) {
    const std::vector<HeaderCase> cases = {
        {requestWith("Origin: http://localhost:8000\r\n"), "http://localhost:8000"},
        {requestWith("origin: http://localhost:8000\r\n"), "http://localhost:8000"},
        {requestWith("ORIGIN:http://localhost:8000\r\n"), "http://localhost:8000"},
        {requestWith("Origin: \t https://[::1]:8443 \t\r\n"), "https://[::1]:8443"},
        {requestWith("Referer: http://other.example/\r\nOrigin: https://a.example\r\nAccept: */*\r\n"),
         "https://a.example"},
        // The value is given as sent, in its case.
        {requestWith("Origin: HTTP://LocalHost:8000\r\n"), "HTTP://LocalHost:8000"},
        // Bare LF line ends.
        {"GET /x?request-id=1 HTTP/1.1\nOrigin: http://a.example\n\n", "http://a.example"},
        // A head that was cut off before its blank line.
        {"GET /x?request-id=1 HTTP/1.1\r\nOrigin: http://a.example", "http://a.example"},
        // Names that only contain or resemble "Origin".
        {requestWith("X-Origin: http://a.example\r\nOrigin-Agent-Cluster: ?1\r\n"), ""},
        {requestWith("Origin : http://a.example\r\n"), ""},
        // Absent, null or malformed.
        {requestWith(""), ""},
        {requestWith("Origin: null\r\n"), ""},
        {requestWith("Origin:\r\n"), ""},
        {requestWith("Origin: http://a.example/\r\n"), ""},
        {requestWith("Origin: http://a.example http://b.example\r\n"), ""},
        {requestWith("Origin: http://a.example,http://b.example\r\n"), ""},
        // Two headers, even when equal or one of them is empty.
        {requestWith("Origin: http://a.example\r\nOrigin: http://a.example\r\n"), ""},
        {requestWith("Origin: http://a.example\r\norigin: \r\n"), ""},
        // A value folded onto a second line.
        {requestWith("Origin: http://a.example\r\n  .evil.test\r\n"), ""},
        // The request line is no header, and neither is the body.
        {"Origin: http://a.example\r\nHost: x\r\n\r\n", ""},
        {requestWith("") + "Origin: http://a.example\r\n", ""},
        {"ciao", ""},
        {"", ""},
    };
    for (const HeaderCase& c : cases) EXPECT_EQ(requestOrigin(c.request), c.origin) << c.request;
}

TEST(AllowedOriginsFile, ListsNormalizedOriginsAndReportsInvalidLines) {
    const std::string text =
        "\xEF\xBB\xBF# Pages that may start zanfiro\r\n"  // 1: byte order mark, comment
        "https://shop.example\r\n"                        // 2
        "\r\n"                                            // 3: blank
        "   \t \r\n"                                      // 4: blanks only
        "  http://localhost:8000/   # the test page\r\n"  // 5: slash and trailing comment
        "http://plain.example:80\n"                       // 6: default port, LF only
        "HTTPS://Upper.Example:443/\n"                    // 7
        "https://alt.example:80\n"                        // 8: not the default port of https
        "http://[::1]:80\n"                               // 9
        "shop.example\n"                                  // 10: invalid
        "https://shop.example/path\n"                     // 11: invalid
        "https://shop.example//\n"                        // 12: invalid, one slash only is dropped
        "null\n"                                          // 13: invalid
        "https://a.example https://b.example\n"           // 14: invalid
        "   # indented comment\n"                         // 15
        "https://last.example";                           // 16: no line end
    const AllowedOriginsParse parsed = parseAllowedOrigins(text);
    const std::vector<std::string> expected = {
        "https://shop.example",   "http://localhost:8000", "http://plain.example", "HTTPS://Upper.Example",
        "https://alt.example:80", "http://[::1]",          "https://last.example",
    };
    EXPECT_EQ(parsed.allowed.origins, expected);

    ASSERT_EQ(parsed.invalidLines.size(), 5u);
    const std::vector<std::pair<int, std::string>> invalid = {
        {10, "shop.example"}, {11, "https://shop.example/path"},           {12, "https://shop.example//"},
        {13, "null"},         {14, "https://a.example https://b.example"},
    };
    for (std::size_t i = 0; i < invalid.size(); ++i) {
        EXPECT_EQ(parsed.invalidLines[i].lineNumber, invalid[i].first);
        EXPECT_EQ(parsed.invalidLines[i].text, invalid[i].second);
    }
}

TEST(AllowedOriginsFile, EmptyOrCommentOnlyFileListsNothing) {
    for (const std::string& text : {std::string(), std::string("\n\n"), std::string("# nobody yet\r\n")}) {
        const AllowedOriginsParse parsed = parseAllowedOrigins(text);
        EXPECT_TRUE(parsed.allowed.origins.empty()) << text;
        EXPECT_TRUE(parsed.invalidLines.empty()) << text;
    }
}

TEST(AllowedOriginsFile, SentOriginIsAllowedOnlyWhenListed) {
    const AllowedOrigins allowed = parseAllowedOrigins(
                                       "https://shop.example/\n"
                                       "http://localhost:8000\n"
                                       "http://plain.example:80\n")
                                       .allowed;
    const std::vector<std::pair<std::string, bool>> cases = {
        {"https://shop.example", true},
        {"https://SHOP.example", true},
        {"http://localhost:8000", true},
        {"http://plain.example", true},  // the listed :80 was dropped, as the browser drops it
        {"http://shop.example", false},
        {"https://shop.example:8443", false},
        {"http://localhost:8001", false},
        {"http://localhost", false},
        {"https://evil.example", false},
        {"", false},
        {"null", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isOriginAllowed(allowed, c.first), c.second) << c.first;
    EXPECT_FALSE(isOriginAllowed(AllowedOrigins{}, "https://shop.example"));
}

}  // namespace
