// How the platform layer reports a failure: what kind it is, in the
// launcher's own terms, and the system's own number and text for the log.
#pragma once

#include <string>

namespace platform {

enum class ErrorKind {
    None,
    Interrupted,    // a signal cut a wait short
    TimedOut,       // a bounded connect or receive ran out of time
    Refused,        // nobody listens at the address
    AddressInUse,   // another socket holds the address
    NoDescriptors,  // the process or the system has no handle left
    Other,
};

struct SystemError {
    ErrorKind kind = ErrorKind::None;
    int number = 0;    // the system's error number, for the log only
    std::string text;  // the system's description of it, one line
};

}  // namespace platform
