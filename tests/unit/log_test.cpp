#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fake/fake_platform.h"
#include "log/log.h"
#include "log_test_support.h"

namespace {

using logtest::readFile;
using logtest::STAMP;
using logtest::TempLog;
using logtest::writeFile;
namespace fs = std::filesystem;

struct LineCase {
    std::string message;
    int level;
    std::string line;
};

TEST(WriteLog, LineShapes) {
    const std::string stamp = STAMP;
    const std::vector<LineCase> cases = {
        {"Laucher already started", 0, stamp + "Laucher already started\n"},
        {"Laucher already started", 1, "  Laucher already started\n"},
        {"Laucher already started", 2, "    Laucher already started\n"},
        {"deep", 12, std::string(24, ' ') + "deep\n"},
        {"Server: STOP?!.\n\n", 0, stamp + "Server: STOP?!.\n\n\n"},
        {"first\nsecond", 1, "  first\nsecond\n"},
        {"", 0, stamp + "\n"},
        {"", 2, "    \n"},
        {std::string("ab\0cd", 5), 1, "  ab\n"},
        // Levels outside 0..12 are clamped.
        {"low", -1, stamp + "low\n"},
        {"low", -1000, stamp + "low\n"},
        {"high", 13, std::string(24, ' ') + "high\n"},
        {"high", 1000000, std::string(24, ' ') + "high\n"},
    };
    for (const LineCase& c : cases) {
        TempLog log;
        writeLog(c.message, c.level);
        EXPECT_EQ(log.contents(), c.line) << "level " << c.level << ", message: " << c.message;
    }
}

TEST(WriteLog, CStringFormAndMissingMessage) {
    TempLog log;
    writeLog("Conn. 127.0.0.1", 0);
    writeLog(static_cast<const char*>(nullptr), 1);
    EXPECT_EQ(log.contents(), std::string(STAMP) + "Conn. 127.0.0.1\n  \n");
}

TEST(WriteLog, AppendsAndRecreatesTheFileAndItsFolder) {
    TempLog log;
    ASSERT_FALSE(fs::exists(log.folder));

    writeLog("one", 0);
    writeLog("two", 1);
    EXPECT_EQ(log.contents(), std::string(STAMP) + "one\n  two\n");

    // Removed while the program runs: the next line starts a new file.
    fs::remove(log.path);
    writeLog("three", 2);
    EXPECT_EQ(log.contents(), "    three\n");

    fs::remove_all(log.root + "/zanfiro");
    writeLog("four", 1);
    EXPECT_EQ(log.contents(), "  four\n");
}

// Whether the log works is process-wide state: a test of the notes starts
// from a log that works.
void settleOnAWorkingLog(const TempLog& log) {
    testing::internal::CaptureStdout();
    writeLog("settle", 1);
    testing::internal::GetCapturedStdout();
    fs::remove_all(log.root + "/zanfiro");
}

TEST(WriteLog, UnopenableFileIsNotedOnceAndItsReturnOnce) {
    TempLog log;
    settleOnAWorkingLog(log);
    // A plain file where the log folder should be: the folder cannot be made.
    writeFile(log.root + "/zanfiro", "not a folder");

    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) writeLog("lost", 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error in fopen(" + log.path + ")\n");
    EXPECT_EQ(readFile(log.root + "/zanfiro"), "not a folder");

    fs::remove(log.root + "/zanfiro");
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) writeLog("back", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "log written again (" + log.path + ")\n");
    EXPECT_EQ(log.contents(), "  back\n  back\n  back\n  back\n  back\n");
}

TEST(WriteLog, FailedWriteIsNotedLikeAFailedOpen) {
    TempLog log;
    settleOnAWorkingLog(log);
    fake::state().appendWritesFail = true;  // a full disk
    testing::internal::CaptureStdout();
    writeLog("lost", 0);
    writeLog("lost", 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error in write(" + log.path + ")\n");
}

TEST(WriteLog, FailedFolderLookupTouchesNothingAndIsRetried) {
    TempLog log;
    settleOnAWorkingLog(log);
    fake::state().userDataFolder.reset();

    testing::internal::CaptureStdout();
    writeLog("lost", 0);
    const std::string note = testing::internal::GetCapturedStdout();
    EXPECT_EQ(note, "error in fopen()\n");
    EXPECT_EQ(logFilePath(), "");
    EXPECT_TRUE(fs::is_empty(log.root));

    fake::state().userDataFolder = log.root;
    writeLog("found", 1);
    EXPECT_EQ(log.contents(), "  found\n");
    EXPECT_EQ(logFilePath(), log.path);
}

TEST(WriteLog, EmptyFolderFromALookupCountsAsFailure) {
    TempLog log;
    fake::state().userDataFolder = "";
    EXPECT_EQ(logFilePath(), "");
}

TEST(LogFilePath, BuiltWithThePlatformSeparator) {
    TempLog log;
    EXPECT_EQ(logFilePath(), log.root + "/zanfiro/log/zanfiroWebLauncher.log");

    fake::state().separator = '\\';
    fake::state().userDataFolder = "C:\\Users\\u\\AppData\\Roaming";
    EXPECT_EQ(logFilePath(), "C:\\Users\\u\\AppData\\Roaming\\zanfiro\\log\\zanfiroWebLauncher.log");
}

TEST(WriteLog, LongPathIsUsedWhole) {
    TempLog log;
    std::string deep = log.root;
    while (deep.size() < 200) deep += "/abcdefghijklmnopqrstuvwxyz";
    fs::create_directories(deep);
    fake::state().userDataFolder = deep;

    writeLog("far away", 1);
    const std::string path = deep + "/zanfiro/log/zanfiroWebLauncher.log";
    ASSERT_GT(path.size(), 127u);
    EXPECT_EQ(readFile(path), "  far away\n");
}

TEST(WriteLog, LongLinesAreCutTo1999Characters) {
    struct Case {
        std::size_t messageLength;
        int level;
        std::size_t kept;  // characters of the message that reach the file
    };
    // The prefix is 22 characters at level 0 and 2 x level otherwise.
    const std::vector<Case> cases = {
        {1976, 0, 1976}, {1977, 0, 1976},  {5000, 0, 1976},  {1996, 1, 1996},
        {1997, 1, 1996}, {1974, 12, 1974}, {70000, 2, 1994},
    };
    for (const Case& c : cases) {
        TempLog log;
        std::string message(c.messageLength, 'm');
        message.back() = 'E';  // shows whether the end survived
        writeLog(message, c.level);
        const std::string line = log.contents();
        const std::string prefix = c.level == 0 ? std::string(STAMP) : std::string(2 * c.level, ' ');
        EXPECT_EQ(line, prefix + message.substr(0, c.kept) + "\n")
            << "length " << c.messageLength << ", level " << c.level;
        EXPECT_LE(line.size(), 1999u);
    }
}

TEST(EscapeForLog, OneItemStaysOneLineAndCanBeUndone) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GET /getAppStatus?request-id=1 HTTP/1.1", "GET /getAppStatus?request-id=1 HTTP/1.1"},
        {"ciao\n[2026-01-01 00:00:00] FORGED\n", "ciao\\n[2026-01-01 00:00:00] FORGED\\n"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {"back\\slash", "back\\\\slash"},
        {"\x01\x1b[31m\x7f", "\\x01\\x1b[31m\\x7f"},
        {"\xc3\xa9t\xc3\xa9 \"q\" %0A", "\xc3\xa9t\xc3\xa9 \"q\" %0A"},  // UTF-8, quotes, escapes as sent
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(escapeForLog(c.first), c.second) << c.first;
}

TEST(FormatTimestamp, LocalTimeZeroPadded) {
    const std::vector<std::pair<std::time_t, std::string>> cases = {
        {1338534307, "2012-06-01 07:05:07"},
        {0, "1970-01-01 00:00:00"},
        {1325473445, "2012-01-02 03:04:05"},
        {1356998399, "2012-12-31 23:59:59"},
    };
    for (const auto& c : cases) {
        fake::state().now = c.first;
        std::string text = "previous content";
        formatTimestamp(text);
        EXPECT_EQ(text, c.second);
    }
    fake::reset();
}

TEST(WriteLog, LinesFromManyThreadsStayWhole) {
    TempLog log;
    const int threads = 8;
    const int linesEach = 50;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < linesEach; ++i) writeLog("thread " + std::to_string(t), 1);
        });
    }
    for (std::thread& worker : workers) worker.join();

    const std::string text = log.contents();
    std::size_t lines = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.rfind("  thread ", 0), 0u) << line;
        ++lines;
    }
    EXPECT_EQ(lines, static_cast<std::size_t>(threads * linesEach));
}

}  // namespace
