// Appending to a shared file on POSIX: what the log relies on.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/file.h"

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class AppendFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zwl-append-XXXXXX").string();
        ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
        root = pattern;
        path = (root / "launcher.log").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    fs::path root;
    std::string path;
};

TEST_F(AppendFile, CreatesTheFileAndKeepsItsSizeAtOpen) {
    platform::AppendFile file;
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.size(), -1);
    ASSERT_TRUE(file.open(path));
    EXPECT_TRUE(file.isOpen());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(file.size(), 0);

    EXPECT_TRUE(file.write("first\n"));
    EXPECT_EQ(file.size(), 0) << "the size is the one at open";
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.size(), -1);
    EXPECT_FALSE(file.write("after close\n"));

    // Opened again, it sees what is there and appends after it; "\n" stays
    // as it is on POSIX.
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(file.size(), 6);
    EXPECT_TRUE(file.write("second\nthird\n"));
    EXPECT_TRUE(file.write(""));
    file.close();
    EXPECT_EQ(read(path), "first\nsecond\nthird\n");
}

TEST_F(AppendFile, AppendsAfterWhatOthersWroteSinceItOpened) {
    platform::AppendFile first, second;
    ASSERT_TRUE(first.open(path));
    ASSERT_TRUE(second.open(path));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(first.write("a" + std::to_string(i) + "\n"));
        EXPECT_TRUE(second.write("b" + std::to_string(i) + "\n"));
    }
    // A third writer that knows nothing of the two.
    std::ofstream(path, std::ios::app) << "c\n";
    EXPECT_TRUE(first.write("a3\n"));
    EXPECT_EQ(read(path), "a0\nb0\na1\nb1\na2\nb2\nc\na3\n");
}

TEST_F(AppendFile, ConcurrentWritersKeepEveryLineWhole) {
    // Two threads, each opening, appending one line and closing, as the
    // log does for each entry.
    constexpr int LINES = 300;
    const std::string filler(120, '.');
    auto writer = [&](char tag) {
        for (int i = 0; i < LINES; ++i) {
            platform::AppendFile file;
            if (!file.open(path)) return;
            file.write(std::string(1, tag) + filler + std::to_string(i) + "\n");
        }
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();

    std::istringstream lines(read(path));
    std::map<char, int> next;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_FALSE(line.empty());
        const char tag = line[0];
        ASSERT_TRUE(tag == 'a' || tag == 'b') << line;
        // Whole, and in each writer's own order.
        ASSERT_EQ(line, std::string(1, tag) + filler + std::to_string(next[tag]++));
    }
    EXPECT_EQ(count, 2 * LINES);
}

TEST_F(AppendFile, OpenFailsWhereTheFolderIsAFile) {
    std::ofstream(root / "file") << "x";
    platform::AppendFile file;
    EXPECT_FALSE(file.open((root / "file" / "launcher.log").string()));
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.size(), -1);
    EXPECT_FALSE(file.write("lost\n"));
    EXPECT_FALSE(file.open((root / "missing" / "launcher.log").string()));
}

}  // namespace
