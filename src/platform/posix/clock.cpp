#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace platform {

std::time_t currentTime() {
    return std::time(nullptr);
}

bool localTime(std::time_t when, std::tm& local) {
    return ::localtime_r(&when, &local) != nullptr;
}

std::int64_t monotonicMilliseconds() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleepMilliseconds(unsigned milliseconds) {
    struct timespec remaining;
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    // A signal cuts the pause short; sleep on for what is left.
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
