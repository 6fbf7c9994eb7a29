// Time as the system sees it: whole calendar seconds, local time, pauses.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

std::time_t currentTime();
// Converts to local time; false when the conversion fails.
bool localTime(std::time_t when, std::tm& local);
void sleepMilliseconds(unsigned milliseconds);
// A clock that only moves forward, in milliseconds from an arbitrary start.
std::int64_t monotonicMilliseconds();

}  // namespace platform
