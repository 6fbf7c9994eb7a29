// The page origin a request names in its Origin header, and the tests that
// decide whether a text is a serialized origin and whether two origins are
// the same page origin. Pure text functions: no state, no platform calls.
#pragma once

#include <string>

// The value of the request's one well-formed Origin header: a header line
// after the request line (and before the blank line that ends the head)
// whose name is "Origin" in any case, its value trimmed of blanks and tabs.
// "" when there is no such header, when its value is "null" or not a
// serialized origin, or when the request carries more than one Origin header.
std::string requestOrigin(const std::string& request);

// True for scheme "://" host [":" port] and nothing else: a scheme of
// letters, digits, "+", "-" and "." that starts with a letter; a host that
// is a DNS name (labels of letters, digits, "-" and "_" joined by single
// dots), a dotted-quad IPv4 address or a bracketed IPv6 address; a port of
// 1 to 5 digits up to 65535. No path, no trailing slash, no user info, no
// blanks or control bytes.
bool isSerializedOrigin(const std::string& text);

// True when both are serialized origins with the same scheme and host,
// compared without regard to case, and the same port (both absent, or the
// same digits).
bool originMatches(const std::string& listed, const std::string& sent);
