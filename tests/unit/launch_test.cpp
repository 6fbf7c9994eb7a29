#include "launch/launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "log/log.h"
#include "unit/temp_log.h"

namespace {

class LaunchZanfiro : public TempLogTest {
protected:
    std::time_t lastStartTime = 0;
};

TEST_F(LaunchZanfiro, StartsTheProgramBelowTheProgramFilesFolder) {
    struct Case {
        char separator;
        std::string suffix;
        std::string folder;
        std::string userId;
        std::string file, argument, directory;
    };
    const std::vector<Case> cases = {
        {'/', "", "/opt", "42", "/opt/zanfiro/zanfiro", "-w=42", "/opt/zanfiro/"},
        {'\\', ".exe", "C:\\Program Files (x86)", "42", "C:\\Program Files (x86)\\zanfiro\\zanfiro.exe",
         "-w=42", "C:\\Program Files (x86)\\zanfiro\\"},
        // Empty ids and ids with blanks, quotes and dashes go through unchanged.
        {'/', "", "/opt", "", "/opt/zanfiro/zanfiro", "-w=", "/opt/zanfiro/"},
        {'/', "", "/opt", "a b \"c\" -kill", "/opt/zanfiro/zanfiro", "-w=a b \"c\" -kill", "/opt/zanfiro/"},
    };
    std::time_t second = 1338534307;
    int caseNumber = 0;
    for (const Case& c : cases) {
        fake::state().separator = c.separator;
        fake::state().suffix = c.suffix;
        fake::state().programFolders = {c.folder};
        // A fresh log for each case, inside the test's folder whatever the
        // separator makes of its path.
        fake::state().userDataFolder = appData + "/case" + std::to_string(++caseNumber);
        fake::state().now = second;
        second += 3;
        fake::state().programStarts.clear();

        EXPECT_TRUE(launchZanfiro(c.userId, lastStartTime)) << c.userId;
        ASSERT_EQ(fake::state().programStarts.size(), 1u);
        EXPECT_EQ(fake::state().programStarts[0].file, c.file);
        EXPECT_EQ(fake::state().programStarts[0].argument, c.argument);
        EXPECT_EQ(fake::state().programStarts[0].directory, c.directory);
        // The file and the parameters follow each other with no blank.
        EXPECT_EQ(linesOf(logFilePath()), std::vector<std::string>{"0|exePath: " + c.file + c.argument});
    }
}

TEST_F(LaunchZanfiro, ThePreferredProgramFolderIsUsed) {
    struct Case {
        const char* name;
        std::vector<std::string> folders;
        bool started;
        std::string directory;
    };
    const std::vector<Case> cases = {
        {"the first folder wins", {"/x86", "/native"}, true, "/x86/zanfiro/"},
        {"only one folder", {"/native"}, true, "/native/zanfiro/"},
        {"the preferred folder is named empty: no start", {"", "/native"}, false, ""},
        {"no folder", {}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        pointLogHere();
        fake::state().programFolders = c.folders;
        std::time_t lastStartTime = 0;
        std::filesystem::remove(logFilePath());

        EXPECT_EQ(launchZanfiro("7", lastStartTime), c.started);

        if (c.started) {
            ASSERT_EQ(fake::state().programStarts.size(), 1u);
            EXPECT_EQ(fake::state().programStarts[0].directory, c.directory);
        } else {
            EXPECT_TRUE(fake::state().programStarts.empty());
            EXPECT_EQ(logLines(), std::vector<std::string>{"0|[launchZanfiro] application path, not found"});
        }
    }
}

TEST_F(LaunchZanfiro, ResultFollowsTheStartersAnswer) {
    fake::state().programFolders = {"/opt"};
    const std::vector<std::pair<bool, bool>> cases = {{true, true}, {false, false}};
    std::time_t second = 1338534307;
    for (const auto& c : cases) {
        fake::state().programStartSucceeds = c.first;
        fake::state().now = second;
        second += 3;
        std::filesystem::remove(logFilePath());

        EXPECT_EQ(launchZanfiro("u", lastStartTime), c.second) << "start result " << c.first;
        std::vector<std::string> expected = {"0|exePath: /opt/zanfiro/zanfiro-w=u"};
        if (!c.second) expected.push_back("0|[launchZanfiro] starting zanfiro error");
        EXPECT_EQ(logLines(), expected) << "start result " << c.first;
    }
}

TEST_F(LaunchZanfiro, AtMostOneAttemptPerThreeClockSeconds) {
    fake::state().programFolders = {"/opt"};
    const std::time_t T = 1338534307;
    // Seconds of the calls in order, and whether each reaches the starter.
    const std::vector<std::pair<std::time_t, bool>> calls = {
        {T, true}, {T, false}, {T + 1, false}, {T + 2, false}, {T + 3, true}, {T + 5, false}, {T + 6, true},
    };
    std::size_t starts = 0;
    for (const auto& call : calls) {
        fake::state().now = call.first;
        std::filesystem::remove(logFilePath());

        EXPECT_TRUE(launchZanfiro("u", lastStartTime)) << "second T+" << call.first - T;
        if (call.second) ++starts;
        EXPECT_EQ(fake::state().programStarts.size(), starts) << "second T+" << call.first - T;
        if (!call.second) {
            EXPECT_EQ(logLines(), std::vector<std::string>{"0|[launchZanfiro] starting already done, wait!"});
        }
    }
    // Refused calls leave the recorded attempt alone.
    EXPECT_EQ(lastStartTime, T + 6);
}

TEST_F(LaunchZanfiro, FailedAttemptHoldsOffTheNextOne) {
    const std::time_t T = 1338534307;
    fake::state().now = T;
    EXPECT_FALSE(launchZanfiro("u", lastStartTime));  // no program-files folder yet
    EXPECT_EQ(lastStartTime, T);

    fake::state().programFolders = {"/opt"};
    fake::state().now = T + 1;
    EXPECT_TRUE(launchZanfiro("u", lastStartTime));  // held off: reported as starting, nothing tried
    EXPECT_TRUE(fake::state().programStarts.empty());

    fake::state().now = T + 3;
    EXPECT_TRUE(launchZanfiro("u", lastStartTime));
    EXPECT_EQ(fake::state().programStarts.size(), 1u);
}

TEST_F(LaunchZanfiro, ClockSetBackHoldsOffUntilItPassesTheRecordedSecond) {
    fake::state().programFolders = {"/opt"};
    const std::time_t T = 1338534307;
    fake::state().now = T;
    EXPECT_TRUE(launchZanfiro("u", lastStartTime));
    for (std::time_t now : {T - 3600, T - 1, T + 2}) {
        fake::state().now = now;
        EXPECT_TRUE(launchZanfiro("u", lastStartTime));
    }
    EXPECT_EQ(fake::state().programStarts.size(), 1u);
    fake::state().now = T + 3;
    EXPECT_TRUE(launchZanfiro("u", lastStartTime));
    EXPECT_EQ(fake::state().programStarts.size(), 2u);
}

}  // namespace
