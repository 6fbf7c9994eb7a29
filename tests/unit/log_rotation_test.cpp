#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "fake/fake_platform.h"
#include "log/log.h"
#include "log_test_support.h"

namespace {

using logtest::readFile;
using logtest::STAMP;
using logtest::TempLog;
using logtest::writeFile;
namespace fs = std::filesystem;

// Suffix -> contents; a suffix missing from the map is a missing file.
using Files = std::map<std::string, std::string>;

const char* const SUFFIXES[] = {"", ".1", ".2", ".3", ".4"};

void plant(const TempLog& log, const Files& files) {
    fs::create_directories(log.folder);
    for (const auto& file : files) writeFile(log.path + file.first, file.second);
}

Files found(const TempLog& log) {
    Files files;
    for (const char* suffix : SUFFIXES)
        if (fs::exists(log.path + suffix)) files[suffix] = readFile(log.path + suffix);
    return files;
}

struct RotationCase {
    const char* name;
    Files before;
    Files after;
};

TEST(RotateLogs, ShiftsTheChainByOne) {
    const RotationCase cases[] = {
        {"full chain",
         {{"", "L"}, {".1", "A"}, {".2", "B"}, {".3", "C"}, {".4", "D"}},
         {{".1", "L"}, {".2", "A"}, {".3", "B"}, {".4", "C"}}},
        {"gap at .2",
         {{"", "L"}, {".1", "A"}, {".3", "C"}, {".4", "D"}},
         {{".1", "L"}, {".2", "A"}, {".4", "C"}}},
        {"only the log", {{"", "L"}}, {{".1", "L"}}},
        {"only old copies", {{".3", "C"}, {".4", "D"}}, {{".4", "C"}}},
        {"no files", {}, {}},
    };
    for (const RotationCase& c : cases) {
        TempLog log;
        plant(log, c.before);
        rotateLogs();
        EXPECT_EQ(found(log), c.after) << c.name;
    }
}

TEST(RotateLogs, NextLineStartsAFreshLog) {
    TempLog log;
    plant(log, {{"", "old run\n"}});
    rotateLogs();
    writeLog("new run", 0);
    EXPECT_EQ(found(log), (Files{{"", std::string(STAMP) + "new run\n"}, {".1", "old run\n"}}));
}

TEST(RotateLogs, WithoutALogPathNothingIsTouched) {
    TempLog log;
    fake::state().userDataFolder.reset();
    // Without a path the copies' names would be ".1" ... ".4" in the
    // working directory.
    const fs::path previous = fs::current_path();
    fs::current_path(log.root);
    writeFile(".1", "one");
    writeFile(".3", "three");
    writeFile(".4", "four");

    rotateLogs();

    EXPECT_EQ(readFile(".1"), "one");
    EXPECT_FALSE(fs::exists(".2"));
    EXPECT_EQ(readFile(".3"), "three");
    EXPECT_EQ(readFile(".4"), "four");
    fs::current_path(previous);
}

TEST(WriteLog, FullLogIsRotatedBeforeTheNextLine) {
    TempLog log;
    plant(log, {{"", "big"}, {".1", "A"}, {".4", "D"}});
    fs::resize_file(log.path, LOG_SIZE_LIMIT);

    writeLog("after rotation", 1);

    EXPECT_EQ(log.contents(), "  after rotation\n");
    EXPECT_EQ(fs::file_size(log.path + ".1"), static_cast<std::uintmax_t>(LOG_SIZE_LIMIT));
    EXPECT_EQ(readFile(log.path + ".2"), "A");
    EXPECT_FALSE(fs::exists(log.path + ".3"));
    EXPECT_FALSE(fs::exists(log.path + ".4"));  // the oldest copy is the one given up
}

TEST(WriteLog, FullLogRotatedMeanwhileByAnotherWriterIsNotRotatedAgain) {
    TempLog log;
    plant(log, {{"", "big"}, {".1", "A"}});
    fs::resize_file(log.path, LOG_SIZE_LIMIT);
    // Right after this writer finds the log full, another one (a thread, or
    // a launcher process) rotates it and starts the new log.
    bool rotatedByOther = false;
    fake::state().afterAppendOpen = [&](const std::string& path) {
        if (rotatedByOther || fs::file_size(path) < static_cast<std::uintmax_t>(LOG_SIZE_LIMIT)) return;
        rotatedByOther = true;
        fs::rename(log.path + ".1", log.path + ".2");
        fs::rename(log.path, log.path + ".1");
        writeFile(log.path, "other\n");
    };

    writeLog("mine", 1);

    ASSERT_TRUE(rotatedByOther);
    EXPECT_EQ(log.contents(), "other\n  mine\n") << "the fresh log is not shifted away";
    EXPECT_EQ(fs::file_size(log.path + ".1"), static_cast<std::uintmax_t>(LOG_SIZE_LIMIT));
    EXPECT_EQ(readFile(log.path + ".2"), "A");
    EXPECT_FALSE(fs::exists(log.path + ".3"));
}

TEST(WriteLog, LogJustBelowTheLimitIsAppendedTo) {
    TempLog log;
    plant(log, {{"", ""}});
    fs::resize_file(log.path, LOG_SIZE_LIMIT - 1);

    writeLog("x", 1);  // crosses the limit: the next line rotates, not this one

    EXPECT_FALSE(fs::exists(log.path + ".1"));
    EXPECT_EQ(fs::file_size(log.path), static_cast<std::uintmax_t>(LOG_SIZE_LIMIT - 1 + 4));

    writeLog("y", 1);
    EXPECT_EQ(log.contents(), "  y\n");
    EXPECT_EQ(fs::file_size(log.path + ".1"), static_cast<std::uintmax_t>(LOG_SIZE_LIMIT + 3));
}

}  // namespace
