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

using Variables = std::map<std::string, std::optional<std::string>>;

// Sets the variables for as long as it lives; says which in a trace line.
struct Setting {
    Environment environment;
    std::string description;
    explicit Setting(const Variables& variables) {
        for (const auto& variable : variables) {
            environment.set(variable.first, variable.second);
            description +=
                variable.first + "=" + (variable.second ? "\"" + *variable.second + "\" " : "(unset) ");
        }
    }
};

TEST(PosixKnownFolders, UserDataFolderFromTheEnvironment) {
    struct Case {
        Variables environment;
        bool found;
        std::string path;  // when found
    };
    const std::vector<Case> cases = {
        {{{"XDG_DATA_HOME", "/data/u"}, {"HOME", "/home/u"}}, true, "/data/u"},
        {{{"XDG_DATA_HOME", "/data/u//"}, {"HOME", "/home/u"}}, true, "/data/u"},
        {{{"XDG_DATA_HOME", "data/u"}, {"HOME", "/home/u"}}, true, "/home/u/.local/share"},
        {{{"XDG_DATA_HOME", ""}, {"HOME", "/home/u/"}}, true, "/home/u/.local/share"},
        {{{"XDG_DATA_HOME", UNSET}, {"HOME", "/"}}, true, "/.local/share"},
        {{{"XDG_DATA_HOME", UNSET}, {"HOME", "home"}}, false, ""},
        {{{"XDG_DATA_HOME", "x"}, {"HOME", ""}}, false, ""},
        {{{"XDG_DATA_HOME", UNSET}, {"HOME", UNSET}}, false, ""},
    };
    for (const Case& c : cases) {
        Setting setting(c.environment);
        SCOPED_TRACE(setting.description);
        std::string path = "untouched";
        EXPECT_EQ(platform::userDataFolder(path), c.found);
        EXPECT_EQ(path, c.found ? c.path : "untouched");
    }
}

TEST(PosixKnownFolders, ProgramFoldersFromTheEnvironmentThe32BitOneFirst) {
    struct Case {
        Variables environment;
        std::vector<std::string> folders;
    };
    const std::vector<Case> cases = {
        {{{"ProgramFiles(x86)", UNSET}, {"ProgramFiles", UNSET}}, {"/opt"}},
        {{{"ProgramFiles(x86)", "/pf86"}, {"ProgramFiles", UNSET}}, {"/pf86", "/opt"}},
        {{{"ProgramFiles(x86)", "/pf86/"}, {"ProgramFiles", "/srv/apps/"}}, {"/pf86", "/srv/apps"}},
        {{{"ProgramFiles(x86)", "pf86"}, {"ProgramFiles", "/srv/apps"}}, {"/srv/apps"}},
        {{{"ProgramFiles(x86)", ""}, {"ProgramFiles", "apps"}}, {"/opt"}},
    };
    for (const Case& c : cases) {
        Setting setting(c.environment);
        SCOPED_TRACE(setting.description);
        EXPECT_EQ(platform::programFolders(), c.folders);
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
