// The Windows backend's translation of system and Winsock error numbers into
// the launcher's terms.
#pragma once

#include "platform/error.h"

namespace platform {
namespace win32 {

SystemError errorFrom(int number);

}  // namespace win32
}  // namespace platform
