// A temporary log folder for tests that write real log files.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "fake/fake_platform.h"
#include "log/log.h"

namespace logtest {

inline std::string makeTempFolder(const std::string& stem) {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        const std::filesystem::path candidate = base / (stem + "-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) return candidate.string();
    }
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Points the log at <root>/zanfiro/log/zanfiroWebLauncher.log; the log
// folder itself does not exist until the log creates it.
class TempLog {
public:
    TempLog() : root(makeTempFolder("zwl-log")) {
        fake::reset();
        fake::state().userDataFolder = root;
        folder = root + "/zanfiro/log";
        path = folder + "/zanfiroWebLauncher.log";
    }
    ~TempLog() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempLog(const TempLog&) = delete;
    TempLog& operator=(const TempLog&) = delete;

    std::string contents() const { return readFile(path); }

    std::string root;
    std::string folder;
    std::string path;
};

// The fake clock's time (2012-06-01 07:05:07) as a level-0 prefix.
inline const char* const STAMP = "[2012-06-01 07:05:07] ";

}  // namespace logtest
