#include "platform/win32/error.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <string>

namespace platform {
namespace win32 {

namespace {

ErrorKind kindOf(int number) {
    switch (number) {
        case 0:
            return ErrorKind::None;
        case WSAEINTR:
            return ErrorKind::Interrupted;
        case WSAETIMEDOUT:
            return ErrorKind::TimedOut;
        case WSAECONNREFUSED:
            return ErrorKind::Refused;
        case WSAEADDRINUSE:
            return ErrorKind::AddressInUse;
        case WSAEMFILE:
        case WSAENOBUFS:
            return ErrorKind::NoDescriptors;
        default:
            return ErrorKind::Other;
    }
}

}  // namespace

SystemError errorFrom(int number) {
    SystemError error;
    error.kind = kindOf(number);
    error.number = number;
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(number), 0, text, sizeof text, nullptr);
    std::string description(text, length);
    // The system's texts end in a line break, which would split a log line.
    while (!description.empty() &&
           (description.back() == '\r' || description.back() == '\n' || description.back() == ' ')) {
        description.pop_back();
    }
    if (description.empty()) description = "Unknown error " + std::to_string(number);
    error.text = description;
    return error;
}

}  // namespace win32
}  // namespace platform
