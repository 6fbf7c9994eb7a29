#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/folders.h"

namespace {

using platform::KnownFolder;
namespace fs = std::filesystem;

// Sets environment variables for one test and puts the old values back.
class Environment {
public:
    ~Environment() {
        for (const auto& saved : saved_) {
            if (saved.second)
                ::setenv(saved.first.c_str(), saved.second->c_str(), 1);
            else
                ::unsetenv(saved.first.c_str());
        }
    }
    // An empty optional removes the variable.
    void set(const std::string& name, const std::optional<std::string>& value) {
        if (saved_.find(name) == saved_.end()) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

const std::optional<std::string> UNSET;

struct LookupCase {
    KnownFolder folder;
    std::map<std::string, std::optional<std::string>> environment;
    int result;        // 0 or -1
    std::string path;  // when found
};

TEST(PosixKnownFolders, LookupsFromTheEnvironment) {
    const std::vector<LookupCase> cases = {
        {KnownFolder::RoamingAppData, {{"XDG_DATA_HOME", "/data/u"}, {"HOME", "/home/u"}}, 0, "/data/u"},
        {KnownFolder::RoamingAppData, {{"XDG_DATA_HOME", "/data/u//"}, {"HOME", "/home/u"}}, 0, "/data/u"},
        {KnownFolder::RoamingAppData,
         {{"XDG_DATA_HOME", "data/u"}, {"HOME", "/home/u"}},
         0,
         "/home/u/.local/share"},
        {KnownFolder::RoamingAppData,
         {{"XDG_DATA_HOME", ""}, {"HOME", "/home/u/"}},
         0,
         "/home/u/.local/share"},
        {KnownFolder::RoamingAppData, {{"XDG_DATA_HOME", UNSET}, {"HOME", "/"}}, 0, "/.local/share"},
        {KnownFolder::RoamingAppData, {{"XDG_DATA_HOME", UNSET}, {"HOME", "home"}}, -1, ""},
        {KnownFolder::RoamingAppData, {{"XDG_DATA_HOME", "x"}, {"HOME", ""}}, -1, ""},
        {KnownFolder::RoamingAppData, {{"XDG_DATA_HOME", UNSET}, {"HOME", UNSET}}, -1, ""},
        {KnownFolder::ProgramFilesX86, {{"ProgramFiles(x86)", "/pf86"}}, 0, "/pf86"},
        {KnownFolder::ProgramFilesX86, {{"ProgramFiles(x86)", "pf86"}}, -1, ""},
        {KnownFolder::ProgramFilesX86, {{"ProgramFiles(x86)", UNSET}}, -1, ""},
        {KnownFolder::ProgramFiles, {{"ProgramFiles", "/srv/apps/"}}, 0, "/srv/apps"},
        {KnownFolder::ProgramFiles, {{"ProgramFiles", "apps"}}, 0, "/opt"},
        {KnownFolder::ProgramFiles, {{"ProgramFiles", UNSET}}, 0, "/opt"},
    };
    for (const LookupCase& c : cases) {
        Environment environment;
        std::string description;
        for (const auto& variable : c.environment) {
            environment.set(variable.first, variable.second);
            description +=
                variable.first + "=" + (variable.second ? "\"" + *variable.second + "\" " : "(unset) ");
        }
        SCOPED_TRACE("folder " + std::to_string(static_cast<int>(c.folder)) + ", " + description);

        std::string path = "untouched";
        const int result = platform::knownFolderPath(c.folder, path);
        if (c.result == 0) {
            EXPECT_GE(result, 0);
            EXPECT_EQ(path, c.path);
        } else {
            EXPECT_LT(result, 0);
            EXPECT_EQ(path, "untouched");
        }
    }
}

TEST(PosixKnownFolders, PathShape) {
    EXPECT_EQ(platform::pathSeparator(), '/');
    EXPECT_STREQ(platform::executableSuffix(), "");
}

class PosixMakeDirectories : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zwl-dirs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
        root = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string root;
};

TEST_F(PosixMakeDirectories, CreatesMissingParentsPrivately) {
    const std::string deep = root + "/a/b//c/";
    ASSERT_TRUE(platform::makeDirectories(deep));
    EXPECT_TRUE(fs::is_directory(root + "/a/b/c"));
    for (const char* made : {"/a", "/a/b", "/a/b/c"}) {
        struct stat info;
        ASSERT_EQ(::stat((root + made).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
    // Existing folders are fine, and stay as they were.
    ::chmod(root.c_str(), 0755);
    EXPECT_TRUE(platform::makeDirectories(root + "/a/b/c"));
    EXPECT_TRUE(platform::makeDirectories(root));
    struct stat info;
    ASSERT_EQ(::stat(root.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
}

TEST_F(PosixMakeDirectories, FailsWhereAFileIsInTheWay) {
    std::ofstream(root + "/file") << "x";
    EXPECT_FALSE(platform::makeDirectories(root + "/file"));
    EXPECT_FALSE(platform::makeDirectories(root + "/file/sub"));
    EXPECT_FALSE(platform::makeDirectories(""));
}

TEST(PosixClock, LocalTimeFollowsTheTimeZone) {
    Environment environment;
    environment.set("TZ", std::string("UTC"));
    ::tzset();
    std::tm local{};
    ASSERT_TRUE(platform::localTime(1338534307, local));
    EXPECT_EQ(local.tm_year + 1900, 2012);
    EXPECT_EQ(local.tm_mon + 1, 6);
    EXPECT_EQ(local.tm_mday, 1);
    EXPECT_EQ(local.tm_hour, 7);

    environment.set("TZ", std::string("CET-1CEST,M3.5.0,M10.5.0/3"));
    ::tzset();
    ASSERT_TRUE(platform::localTime(1338534307, local));
    EXPECT_EQ(local.tm_hour, 9);  // summer time, two hours ahead
    EXPECT_EQ(local.tm_min, 5);
    EXPECT_EQ(local.tm_sec, 7);

    EXPECT_LE(std::abs(platform::currentTime() - std::time(nullptr)), 1);
}

extern "C" void ignoreAlarm(int) {}

TEST(PosixClock, SleepLastsItsTimeDespiteSignals) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = ignoreAlarm;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    // A signal every 20 ms interrupts the pause several times.
    struct itimerval timer {};
    timer.it_interval.tv_usec = 20000;
    timer.it_value.tv_usec = 20000;
    ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);

    const auto start = std::chrono::steady_clock::now();
    platform::sleepMilliseconds(150);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    struct itimerval off {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(150));
}

}  // namespace
