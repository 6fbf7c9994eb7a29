#include "protocol/request_handler.h"

#include "launch/launch.h"
#include "log/log.h"
#include "protocol/control_words.h"
#include "protocol/origin.h"
#include "protocol/request_params.h"
#include "protocol/response_body.h"

namespace {

const std::size_t QUIT_WORD_LENGTH = sizeof QUIT_WORD - 1;

HandledRequest rejected() {
    return HandledRequest{RequestAction::Answer, rejectionResponse()};
}

// The rejection of a text the launcher will not act on: why, then the text.
HandledRequest rejected(const char* reason, const std::string& request) {
    writeLog(reason, 1);
    writeLog(escapeForLog(request), 1);
    return rejected();
}

// A 200 answer; a page that sent its origin may read it.
HandledRequest answered(const std::string& body, const std::string& origin) {
    HandledRequest handled{RequestAction::Answer, HTTPResponse(body)};
    if (!origin.empty()) handled.answer.allowOrigin(origin);
    return handled;
}

}  // namespace

bool isGetAppStatus(const RequestParams& params) {
    return params.command == "getAppStatus";
}

bool isStartZanfiro(const RequestParams& params) {
    return params.command == "startZanfiro";
}

HandledRequest handleRequest(const std::string& request, RequestContext& context) {
    if (request.compare(0, QUIT_WORD_LENGTH, QUIT_WORD) == 0) {
        writeLog("[HTTPServer::handleRequest] quit received!", 1);
        // Answered before the end, so the stopping process learns that we heard it.
        return HandledRequest{RequestAction::Quit, rejectionResponse()};
    }

    const RequestParams params(extractUrl(request));

    if (params.requestId.empty())
        return rejected("[HTTPServer::handleRequest] not HTTP request or valid command:", request);

    // With a list, only the pages of the listed origins are answered.
    const std::string origin = requestOrigin(request);
    if (context.originsListed && !isOriginAllowed(context.allowedOrigins, origin)) {
        writeLog("[HTTPServer::handleRequest] origin not allowed: " +
                     (origin.empty() ? std::string("(none)") : escapeForLog(origin)),
                 1);
        return rejected();
    }

    // The callback becomes code in the page; only a plain function name or
    // name path is echoed back.
    if (!params.callback.empty() && !isValidCallback(params.callback))
        return rejected("[HTTPServer::handleRequest] invalid callback name:", request);

    if (isGetAppStatus(params)) return answered(buildResponseBody(params, "Installed"), origin);
    if (isStartZanfiro(params)) {
        const bool started = launchZanfiro(params.userId, context.lastStartTime);
        return answered(buildResponseBody(params, started ? "StartingZanfiro" : "FailedStartingZanfiro"),
                        origin);
    }
    return HandledRequest{};
}
