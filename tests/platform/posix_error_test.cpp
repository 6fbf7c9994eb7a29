// How the POSIX backend names errno values in the launcher's terms.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/error.h"

namespace {

using platform::ErrorKind;

TEST(PosixErrorFrom, KindNumberAndTheSystemsText) {
    struct Case {
        int number;
        ErrorKind kind;
    };
    const std::vector<Case> cases = {
        {0, ErrorKind::None},
        {EINTR, ErrorKind::Interrupted},
        {ETIMEDOUT, ErrorKind::TimedOut},
        {ECONNREFUSED, ErrorKind::Refused},
        {EADDRINUSE, ErrorKind::AddressInUse},
        {EMFILE, ErrorKind::NoDescriptors},
        {ENFILE, ErrorKind::NoDescriptors},
        {ECONNRESET, ErrorKind::Other},
        {EAGAIN, ErrorKind::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        const platform::SystemError error = platform::posix::errorFrom(c.number);
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.number, c.number);
        EXPECT_EQ(error.text, std::strerror(c.number));
    }
}

TEST(PosixErrorFrom, UnknownNumberStillGetsALine) {
    const platform::SystemError error = platform::posix::errorFrom(98765);
    EXPECT_EQ(error.kind, ErrorKind::Other);
    EXPECT_EQ(error.number, 98765);
    EXPECT_NE(error.text.find("98765"), std::string::npos) << error.text;
    EXPECT_EQ(error.text.find('\n'), std::string::npos) << error.text;
}

}  // namespace
