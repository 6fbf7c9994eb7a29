#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "launch/launch.h"
#include "log/log.h"
#include "log_test_support.h"
#include "protocol/http_response.h"
#include "protocol/request_handler.h"
#include "protocol/request_params.h"

namespace {

using logtest::STAMP;
using logtest::TempLog;

const std::string REJECTION = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
const std::string OK_HEAD = "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: ";
const std::string NOT_A_REQUEST = "  [HTTPServer::handleRequest] not HTTP request or valid command:\n";
const std::string BAD_CALLBACK = "  [HTTPServer::handleRequest] invalid callback name:\n";

std::string answer(const std::string& body) {
    return OK_HEAD + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string statusBody(const std::string& requestId, const std::string& command, const std::string& result,
                       const std::string& message, const std::string& callback = "cb") {
    return callback + "({\"request-id\":\"" + requestId + "\",\"secret-key\":\"\",\"request-type\": \"" +
           command + "\",\"response\":{\"result\":\"" + result + "\",\"message\":\"" + message + "\"}})";
}

class RequestHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { fake::state().programFolders = {"/pf86"}; }

    // Declared first: resets the fake platform before SetUp fills it.
    TempLog log;
    RequestContext context;
};

struct Outcome {
    std::string request;
    bool answered;
    std::string wire;  // what the client receives
    std::string log;   // the whole log afterwards
};

TEST_F(RequestHandlerTest, OutcomesOfOrdinaryRequests) {
    const std::string statusOk = statusBody("1", "getAppStatus", "Success", "NotRunning");
    const std::string badCallback = "GET /getAppStatus?request-id=1&callback=alert(1)// HTTP/1.1\r\n\r\n";
    const std::vector<Outcome> cases = {
        {"ciao", true, REJECTION, NOT_A_REQUEST + "  ciao\n"},
        {"GET /getAppStatus?callback=cb HTTP/1.1", true, REJECTION,
         NOT_A_REQUEST + "  GET /getAppStatus?callback=cb HTTP/1.1\n"},
        // Not the quit word: five of its characters, or not at the start.
        {"_Wr8p", true, REJECTION, NOT_A_REQUEST + "  _Wr8p\n"},
        {" _Wr8p_", true, REJECTION, NOT_A_REQUEST + "   _Wr8p_\n"},
        // What a client sent is one line of the log, whatever it holds.
        {"ciao\n[2026-01-01 00:00:00] FORGED\r\n", true, REJECTION,
         NOT_A_REQUEST + "  ciao\\n[2026-01-01 00:00:00] FORGED\\r\\n\n"},
        // A bare request-id item is no request id.
        {"GET /getAppStatus?request-id&callback=cb HTTP/1.1", true, REJECTION,
         NOT_A_REQUEST + "  GET /getAppStatus?request-id&callback=cb HTTP/1.1\n"},
        {"GET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\nHost: 127.0.0.1:5560\r\n\r\n", true,
         answer(statusOk), ""},
        {"GET /getAppStatus?request-id=1 HTTP/1.1", true, answer(""), ""},
        {"GET /getAppStatus?request-id=4&callback=jQuery18305_1234&secret-key=s HTTP/1.1", true,
         answer(
             "jQuery18305_1234({\"request-id\":\"4\",\"secret-key\":\"s\",\"request-type\": \"getAppStatus\","
             "\"response\":{\"result\":\"Success\",\"message\":\"NotRunning\"}})"),
         ""},
        // Other commands with a request id: no answer, no log line.
        {"GET /GetAppStatus?request-id=3 HTTP/1.1", false, "", ""},
        {"GET /favicon.ico?request-id=3 HTTP/1.1", false, "", ""},
        {"GET /?request-id=3&callback=cb HTTP/1.1", false, "", ""},
        // A callback that is not a name path is refused.
        {badCallback, true, REJECTION,
         BAD_CALLBACK + "  GET /getAppStatus?request-id=1&callback=alert(1)// HTTP/1.1\\r\\n\\r\\n\n"},
        {"GET /startZanfiro?request-id=2&callback=a.b;x&userid=u HTTP/1.1", true, REJECTION,
         BAD_CALLBACK + "  GET /startZanfiro?request-id=2&callback=a.b;x&userid=u HTTP/1.1\n"},
    };
    for (const Outcome& c : cases) {
        SCOPED_TRACE("request: " + c.request);
        std::filesystem::remove(log.path);

        const HandledRequest handled = handleRequest(c.request, context);

        if (c.answered) {
            EXPECT_EQ(handled.action, RequestAction::Answer);
            EXPECT_EQ(handled.answer.serialize(), c.wire);
        } else {
            EXPECT_EQ(handled.action, RequestAction::NoAnswer);
        }
        EXPECT_EQ(log.contents(), c.log);
        EXPECT_TRUE(fake::state().programStarts.empty());
    }
}

struct Launch {
    std::string request;
    bool starts;
    std::string argument;
    std::string body;
    std::string launchLog;
};

TEST_F(RequestHandlerTest, StartZanfiroAnswersWithTheLaunchOutcome) {
    const std::string exe = "/pf86/zanfiro/zanfiro";
    const std::vector<Launch> cases = {
        {"GET /startZanfiro?request-id=2&callback=cb&userid=u1 HTTP/1.1", true, "-w=u1",
         statusBody("2", "startZanfiro", "Success", "StartingZanfiro"),
         std::string(STAMP) + "exePath: " + exe + "-w=u1\n"},
        {"GET /startZanfiro?request-id=2&callback=cb&userid=u1 HTTP/1.1", false, "-w=u1",
         statusBody("2", "startZanfiro", "Error", "FailedStartingZanfiro"),
         std::string(STAMP) + "exePath: " + exe + "-w=u1\n" + STAMP +
             "[launchZanfiro] starting zanfiro error\n"},
        {"GET /startZanfiro?request-id=3&callback=cb HTTP/1.1", true,
         "-w=", statusBody("3", "startZanfiro", "Success", "StartingZanfiro"),
         std::string(STAMP) + "exePath: " + exe + "-w=\n"},
    };
    for (const Launch& c : cases) {
        SCOPED_TRACE("request: " + c.request + (c.starts ? ", starts" : ", start refused"));
        fake::state().programStarts.clear();
        fake::state().programStartSucceeds = c.starts;
        context.lastStartTime = 0;  // clear of the launch rate limit
        std::filesystem::remove(log.path);

        const HandledRequest handled = handleRequest(c.request, context);

        ASSERT_EQ(fake::state().programStarts.size(), 1u);
        EXPECT_EQ(fake::state().programStarts[0].argument, c.argument);
        EXPECT_EQ(handled.action, RequestAction::Answer);
        EXPECT_EQ(handled.answer.serialize(), answer(c.body));
        EXPECT_EQ(log.contents(), c.launchLog);
    }
}

TEST_F(RequestHandlerTest, SecondStartInTheSameSecondIsHeldOffButAnsweredAsStarting) {
    const std::string request = "GET /startZanfiro?request-id=5&callback=cb&userid=u HTTP/1.1";
    handleRequest(request, context);

    const HandledRequest second = handleRequest(request, context);

    EXPECT_EQ(fake::state().programStarts.size(), 1u);
    EXPECT_EQ(second.answer.serialize(),
              answer(statusBody("5", "startZanfiro", "Success", "StartingZanfiro")));
}

TEST_F(RequestHandlerTest, QuitWordAsksForTheRejectionThenTheEnd) {
    for (const std::string request :
         {"_Wr8p_", "_Wr8p_GET /getAppStatus?request-id=1&callback=cb HTTP/1.1"}) {
        SCOPED_TRACE("request: " + request);
        std::filesystem::remove(log.path);
        const HandledRequest handled = handleRequest(request, context);
        EXPECT_EQ(handled.action, RequestAction::Quit);
        EXPECT_EQ(handled.answer.serialize(), REJECTION);
        EXPECT_EQ(log.contents(), "  [HTTPServer::handleRequest] quit received!\n");
    }
}

TEST_F(RequestHandlerTest, PageOriginsAreEchoedAndWithAListChecked) {
    const std::string request = "GET /getAppStatus?request-id=1&callback=cb HTTP/1.1\r\n";
    const std::string body = statusBody("1", "getAppStatus", "Success", "NotRunning");
    const std::string cors = "Access-Control-Allow-Origin: https://Shop.example\r\nVary: Origin\r\n";
    const std::string withCors = "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\n" + cors +
                                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    struct Case {
        const char* name;
        bool listed;
        std::string headers;
        std::string wire;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"no list, no origin: today's bytes", false, "\r\n", answer(body), ""},
        {"no list, an origin: echoed as sent", false, "Origin: https://Shop.example\r\n\r\n", withCors, ""},
        {"a listed origin", true, "origin: https://Shop.example\r\n\r\n", withCors, ""},
        {"another origin", true, "Origin: https://evil.example\r\n\r\n", REJECTION,
         "  [HTTPServer::handleRequest] origin not allowed: https://evil.example\n"},
        {"no origin with a list", true, "\r\n", REJECTION,
         "  [HTTPServer::handleRequest] origin not allowed: (none)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log.path);
        context.originsListed = c.listed;
        context.allowedOrigins = parseAllowedOrigins("https://shop.example/\n").allowed;
        const HandledRequest handled = handleRequest(request + c.headers, context);
        EXPECT_EQ(handled.answer.serialize(), c.wire);
        EXPECT_EQ(log.contents(), c.log);
    }
}

TEST_F(RequestHandlerTest, TheListIsReadOnceAtStartAndLogged) {
    const std::string config = log.root + "/config";
    const std::string path = config + "/zanfiro/allowed-origins.txt";
    struct Case {
        const char* name;
        const char* file;  // nullptr: no file
        bool listed;
        std::size_t origins;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"no file", nullptr, false, 0, {"0|Allowed origins: no list at " + path + ", every page allowed"}},
        {"an empty file allows no page", "", true, 0, {"0|Allowed origins: 0 listed in " + path}},
        {"valid and invalid lines",
         "# shops\nhttps://a.example\nnot an origin\x1b\nhttp://b.example:80/\n",
         true,
         2,
         {"1|xxx: invalid origin at line 3 of " + path + ": not an origin\\x1b",
          "0|Allowed origins: 2 listed in " + path}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log.path);
        std::filesystem::remove_all(config);
        fake::state().userConfigFolder = config;
        if (c.file) {
            std::filesystem::create_directories(config + "/zanfiro");
            logtest::writeFile(path, c.file);
        }
        RequestContext loaded;
        loadAllowedOrigins(loaded);
        EXPECT_EQ(loaded.originsListed, c.listed);
        EXPECT_EQ(loaded.allowedOrigins.origins.size(), c.origins);
        std::vector<std::string> lines;
        std::istringstream text(log.contents());
        for (std::string line; std::getline(text, line);)
            lines.push_back(line[0] == '[' ? "0|" + line.substr(22) : "1|" + line.substr(2));
        EXPECT_EQ(lines, c.log);
    }
}

TEST(CommandTests, WholeWordCaseSensitive) {
    const std::vector<std::pair<std::string, std::pair<bool, bool>>> cases = {
        {"getAppStatus?x", {true, false}},  {"startZanfiro?x", {false, true}},
        {"GetAppStatus?x", {false, false}}, {"getAppStatuss?x", {false, false}},
        {"startzanfiro?x", {false, false}}, {"?x", {false, false}},
    };
    for (const auto& c : cases) {
        const RequestParams params(c.first);
        EXPECT_EQ(isGetAppStatus(params), c.second.first) << c.first;
        EXPECT_EQ(isStartZanfiro(params), c.second.second) << c.first;
    }
}

}  // namespace
