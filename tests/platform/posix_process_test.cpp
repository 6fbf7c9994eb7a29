// The real POSIX process layer: starting a small recording program, threads
// and the wait for a stop signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

// Writes what it was started with next to itself: each argument in its own
// file, its argv[0], working directory, open descriptors, session, signal
// state and standard input; "done" last.
// The signal state is read first and with builtins only: the shell blocks
// signals of its own while it waits for a command it started.
const char* const RECORDER = R"(#!/bin/sh
while IFS= read -r line; do
  case "$line" in Sig*) signals="$signals$line
";; esac
done < /proc/$$/status
dir=$(dirname "$0")
printf '%s' "$signals" > "$dir/signals"
i=0
for a in "$@"; do
  i=$((i+1))
  printf '%s' "$a" > "$dir/arg$i"
done
printf '%s' "$0" > "$dir/arg0"
pwd -P > "$dir/cwd"
echo $$ > "$dir/pid"
ls /proc/$$/fd > "$dir/fds"
cut -d' ' -f6 /proc/$$/stat > "$dir/sid"
readlink /proc/$$/fd/0 > "$dir/stdin"
: > "$dir/done"
)";

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

class StartProgram : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "zwl_spawn_XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        root = pattern;
        // Blanks in the folder names, as in "Program Files".
        programDir = root / "Program Files" / "zanfiro";
        fs::create_directories(programDir);
        program = programDir / "zanfiro";
        std::ofstream(program) << RECORDER;
        fs::permissions(program, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(root); }

    // Starts the recorder the way the launcher does and waits until it has
    // written everything.
    bool start(const std::string& argument) {
        for (const char* name : {"done", "arg0", "arg1", "arg2", "arg3"}) fs::remove(programDir / name);
        platform::SystemError error;
        const bool started =
            platform::startProgram(program.string(), argument, programDir.string() + "/", error);
        EXPECT_TRUE(started) << error.text;
        if (started) {
            EXPECT_TRUE(waitFor([&] { return fs::exists(programDir / "done"); }, std::chrono::seconds(10)))
                << "the program did not run";
        }
        return started;
    }

    fs::path root, programDir, program;
};

TEST_F(StartProgram, UserIdArrivesAsExactlyOneArgument) {
    const std::vector<std::string> arguments = {
        "-w=42",
        "-w=",
        "-w=a b  c",
        "-w=\"quoted\" 'single'",
        "-w=x -kill --help",
        "-w=; touch injected",
        "-w=$(touch injected) `touch injected`",
        "-w=*",
        "-w=line\nbreak\ttab",
    };
    for (const std::string& argument : arguments) {
        SCOPED_TRACE(argument);
        EXPECT_TRUE(start(argument));
        EXPECT_EQ(read(programDir / "arg0"), program.string());
        EXPECT_EQ(read(programDir / "arg1"), argument);
        EXPECT_FALSE(fs::exists(programDir / "arg2"));
    }
    EXPECT_FALSE(fs::exists(programDir / "injected"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "injected"));
}

TEST_F(StartProgram, RunsInItsDirectoryInASessionOfItsOwnWithNothingInherited) {
    // What a launcher's thread holds when it starts the program: the stop
    // signals blocked, a signal ignored, an open descriptor without
    // close-on-exec and a socket-like descriptor.
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore {
    }, previousUsr1{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGUSR1, &ignore, &previousUsr1), 0);
    const int leaked = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(leaked, 0);
    const int high = dup2(leaked, 57);
    ASSERT_EQ(high, 57);

    const bool started = start("-w=1");

    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGUSR1, &previousUsr1, nullptr);
    close(leaked);
    close(high);

    ASSERT_TRUE(started);
    EXPECT_EQ(read(programDir / "cwd"), fs::canonical(programDir).string() + "\n");
    EXPECT_EQ(read(programDir / "stdin"), "/dev/null\n");

    // The shell running the recorder may keep its script open above 2; the
    // descriptors of this process must not be there.
    std::vector<int> fds;
    std::ifstream fdList(programDir / "fds");
    for (int fd; fdList >> fd;) fds.push_back(fd);
    EXPECT_EQ(std::count(fds.begin(), fds.end(), leaked), 0) << read(programDir / "fds");
    EXPECT_EQ(std::count(fds.begin(), fds.end(), 57), 0) << read(programDir / "fds");

    EXPECT_EQ(read(programDir / "sid"), read(programDir / "pid"));
    // No signal blocked, none of the classic ones (1 to 31) ignored. The C
    // library marks its own two internal real-time signals ignored in every
    // program it spawns; those are above 31 and every program resets them.
    const std::string signals = read(programDir / "signals");
    EXPECT_NE(signals.find("SigBlk:\t0000000000000000\n"), std::string::npos) << signals;
    const std::size_t ignored = signals.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << signals;
    const unsigned long long ignoredMask = std::stoull(signals.substr(ignored + 8, 16), nullptr, 16);
    EXPECT_EQ(ignoredMask & 0x7fffffffULL, 0u) << signals;
}

TEST_F(StartProgram, EndedProgramLeavesNoZombie) {
    ASSERT_TRUE(start("-w=1"));
    const std::string pid = read(programDir / "pid");
    ASSERT_FALSE(pid.empty());
    const fs::path proc = fs::path("/proc") / pid.substr(0, pid.size() - 1);
    // The recorder ends right after "done"; once it has, nothing of it may
    // stay in the process table (a zombie would keep its /proc entry).
    EXPECT_TRUE(waitFor([&] { return !fs::exists(proc); }, std::chrono::seconds(10)))
        << read(proc / "status").substr(0, 60);
}

TEST_F(StartProgram, RefusalsSayWhy) {
    const fs::path plain = programDir / "not-executable";
    std::ofstream(plain) << RECORDER;
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    struct Case {
        const char* name;
        std::string file, directory;
        int number;
    };
    const std::vector<Case> cases = {
        {"missing file", (programDir / "missing").string(), programDir.string() + "/", ENOENT},
        {"missing folder", (root / "nowhere" / "zanfiro").string(), (root / "nowhere").string() + "/",
         ENOENT},
        {"not executable", plain.string(), programDir.string() + "/", EACCES},
        {"working directory missing", program.string(), (root / "gone").string() + "/", ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::SystemError error;
        EXPECT_FALSE(platform::startProgram(c.file, "-w=1", c.directory, error));
        EXPECT_EQ(error.kind, platform::ErrorKind::Other);
        EXPECT_EQ(error.number, c.number);
        EXPECT_EQ(error.text, std::strerror(c.number));
    }
    EXPECT_FALSE(fs::exists(programDir / "done"));
}

// A started thread never sees the stop signals, and the main thread's wait
// ends on each of them with code 0. Runs in a child process: it blocks
// signals and leaves a thread behind.
TEST(StopSignals, EndTheMainThreadsWaitNotTheServerThread) {
    for (int stopSignal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(stopSignal);
        EXPECT_EXIT(
            {
                static int signalToSend;
                // The thread's result reaches the main thread through a signal,
                // which orders nothing between threads: an atomic carries it.
                static std::atomic<bool> threadHadThemBlocked{false};
                signalToSend = stopSignal;
                const int error = platform::startThread([] {
                    sigset_t mask;
                    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
                    threadHadThemBlocked.store(sigismember(&mask, SIGTERM) && sigismember(&mask, SIGINT) &&
                                               sigismember(&mask, SIGHUP));
                    // A signal to the whole process, as systemd or a terminal sends it.
                    kill(getpid(), signalToSend);
                    for (;;) pause();
                });
                if (error != 0) std::_Exit(3);
                const int code = platform::waitForStopRequest();
                std::_Exit(code == 0 && threadHadThemBlocked.load() ? 42 : 4);
            },
            ::testing::ExitedWithCode(42), "");
    }
}

// The process ends while its other thread may be writing the log: ending it
// must not run exit handlers or destroy static objects under that thread.
const char* exitMarker = nullptr;

struct DestroyedAtExit {
    ~DestroyedAtExit() {
        if (exitMarker) std::ofstream(exitMarker) << "destroyed";
    }
};

TEST(ExitProcess, EndsWithTheCodeAndRunsNoExitHandlers) {
    const std::string marker = fs::temp_directory_path() / ("zwl-exit-" + std::to_string(getpid()));
    fs::remove(marker);
    auto endFromHere = [&marker] {
        exitMarker = marker.c_str();
        static DestroyedAtExit object;
        std::atexit([] { std::ofstream(exitMarker) << "handler"; });
        std::thread busy([] { std::this_thread::sleep_for(std::chrono::seconds(5)); });
        busy.detach();
        platform::exitProcess(3);
    };
    EXPECT_EXIT(endFromHere(), ::testing::ExitedWithCode(3), "");
    EXPECT_FALSE(fs::exists(marker)) << "an exit handler or a destructor ran";
    fs::remove(marker);
}

}  // namespace
