// Time as the system sees it: whole calendar seconds, local time, pauses.
#pragma once

#include <ctime>

namespace platform {

std::time_t currentTime();
// Converts to local time; false when the conversion fails.
bool localTime(std::time_t when, std::tm& local);
void sleepMilliseconds(unsigned milliseconds);

}  // namespace platform
