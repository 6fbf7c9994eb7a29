// The page origins the desktop program's owner allows to use the launcher,
// as listed in the file allowed-origins.txt, and the test of a request's
// origin against them. The caller reads the file and logs what the parser
// reports; no file at all means every page is allowed, which the caller
// decides before it asks isOriginAllowed.
#pragma once

#include <string>
#include <vector>

struct AllowedOrigins {
    // Serialized origins as written in the file, without a trailing "/" and
    // without the default port of their scheme (":80" for http, ":443" for
    // https), since browsers never send those.
    std::vector<std::string> origins;
};

struct InvalidOriginLine {
    int lineNumber;    // counted from 1
    std::string text;  // the line without its line end and comment, trimmed of blanks and tabs
};

struct AllowedOriginsParse {
    AllowedOrigins allowed;
    std::vector<InvalidOriginLine> invalidLines;
};

// Reads the file's text: one origin per line; lines end in LF or CR LF; a
// UTF-8 byte order mark at the start is ignored; blanks and tabs around an
// entry are ignored; everything from a "#" to the end of its line is a
// comment (an origin never contains "#"), so whole-line and trailing
// comments both work; lines left empty are skipped. Every other line that
// is not a serialized origin (after one trailing "/" is dropped) is
// reported in invalidLines and not listed.
AllowedOriginsParse parseAllowedOrigins(const std::string& fileText);

// True when sentOrigin (as requestOrigin gives it) matches a listed origin:
// scheme and host without regard to case, port exactly. An empty list allows
// nothing, and neither does an empty sentOrigin.
bool isOriginAllowed(const AllowedOrigins& allowed, const std::string& sentOrigin);
