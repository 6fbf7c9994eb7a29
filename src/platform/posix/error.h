// The POSIX backend's translation of errno into the launcher's terms.
#pragma once

#include "platform/error.h"

namespace platform {
namespace posix {

SystemError errorFrom(int number);

}  // namespace posix
}  // namespace platform
