#include "platform/posix/error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {
namespace posix {

namespace {

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* describe(char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* describe(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

ErrorKind kindOf(int number) {
    switch (number) {
        case 0:
            return ErrorKind::None;
        case EINTR:
            return ErrorKind::Interrupted;
        case ETIMEDOUT:
            return ErrorKind::TimedOut;
        case ECONNREFUSED:
            return ErrorKind::Refused;
        case EADDRINUSE:
            return ErrorKind::AddressInUse;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
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
    char buffer[256] = {};
    const char* text = describe(strerror_r(number, buffer, sizeof buffer), buffer);
    error.text = text ? text : "Unknown error " + std::to_string(number);
    return error;
}

}  // namespace posix
}  // namespace platform
