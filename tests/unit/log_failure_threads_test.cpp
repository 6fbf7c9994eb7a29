// Both threads of the launcher write the log. When it cannot be written, the
// note on standard output is shared state of the two: it must come once when
// logging starts to fail and once when it works again, not once per line.
// Run under ThreadSanitizer (make unit-tsan) this also checks that state for
// races.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "log_test_support.h"

namespace {

using logtest::readFile;
using logtest::TempLog;
using logtest::writeFile;

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void writeFromTwoThreads(int linesEach) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t, linesEach] {
            for (int i = 0; i < linesEach; ++i) writeLog("thread " + std::to_string(t), 1);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

TEST(WriteLogFromTwoThreads, FailingLogIsNotedOnceAndItsReturnOnce) {
    TempLog log;
    const int linesEach = 100;
    // A plain file where the log folder should be: the folder cannot be made.
    writeFile(log.root + "/zanfiro", "not a folder");

    testing::internal::CaptureStdout();
    writeFromTwoThreads(linesEach);
    const std::string failing = testing::internal::GetCapturedStdout();
    EXPECT_EQ(lineCount(failing), 1u) << failing.substr(0, 400);

    // The folder can be made again: the lines land in the log, and the return
    // is noted at most once.
    std::filesystem::remove(log.root + "/zanfiro");
    testing::internal::CaptureStdout();
    writeFromTwoThreads(linesEach);
    const std::string working = testing::internal::GetCapturedStdout();
    EXPECT_LE(lineCount(working), 1u) << working.substr(0, 400);
    EXPECT_EQ(lineCount(log.contents()), static_cast<std::size_t>(2 * linesEach));
}

}  // namespace
