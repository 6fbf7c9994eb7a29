// The C runtime's clock and the kernel's Sleep.
#include "platform/clock.h"

#include <windows.h>

namespace platform {

std::time_t currentTime() {
    return std::time(nullptr);
}

bool localTime(std::time_t when, std::tm& local) {
    return localtime_s(&local, &when) == 0;
}

std::int64_t monotonicMilliseconds() {
    return static_cast<std::int64_t>(GetTickCount64());
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

}  // namespace platform
