// A test fixture that points the log at a fresh temporary folder through the
// fake platform, and reads the log back line by line.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake/fake_platform.h"
#include "log/log.h"
#include "log_test_support.h"

class TempLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        log = std::make_unique<logtest::TempLog>();
        appData = log->root;
    }
    void TearDown() override {
        log.reset();
        fake::reset();
    }

    // After fake::reset() the log folder has to be set again.
    void pointLogHere() { fake::state().userDataFolder = appData; }

    std::string logPath() const { return log->path; }

    // The lines of a log file, each as "<level>|<message>": a level 0 line
    // loses its "[date time] " stamp, a level n line its 2n blanks.
    static std::vector<std::string> linesOf(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (line.size() >= 22 && line[0] == '[' && line.compare(20, 2, "] ") == 0) {
                lines.push_back("0|" + line.substr(22));
            } else {
                std::size_t blanks = line.find_first_not_of(' ');
                if (blanks == std::string::npos) blanks = line.size();
                lines.push_back(std::to_string(blanks / 2) + "|" + line.substr(blanks));
            }
        }
        return lines;
    }
    std::vector<std::string> logLines() const { return linesOf(logPath()); }

    std::unique_ptr<logtest::TempLog> log;
    std::string appData;
};
