#include "app/launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/control_client.h"
#include "fake/fake_platform.h"
#include "server/server_thread.h"
#include "unit/temp_log.h"

namespace {

using fake::Socket;

class Launcher : public TempLogTest {
protected:
    void SetUp() override {
        TempLogTest::SetUp();
        std::filesystem::create_directories(appData + "/zanfiro/log");
        std::ofstream(logPath()) << "previous run\n";
        std::ofstream(logPath() + ".1") << "older run\n";
        launcherAnswers();
    }

    // A launcher serves on the port: it answers the probe with its rejection.
    static void launcherAnswers() {
        fake::state().receiveBytes = [](Socket, char* buffer, std::size_t size) {
            const std::string rejection = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
            const std::size_t n = std::min(size, rejection.size());
            rejection.copy(buffer, n);
            return fake::transferred(n);
        };
    }

    // Nobody serves on the port.
    static void nobodyListens() {
        fake::state().connectTo = [](Socket, const platform::Ipv4Endpoint&, int, platform::SystemError&) {
            return false;
        };
    }

    // Everything the control client sent, socket by socket, in order.
    static std::vector<std::string> textsSent() {
        std::vector<std::string> texts;
        for (const auto& entry : fake::state().sent) texts.push_back(entry.second);
        return texts;
    }
};

TEST_F(Launcher, OnlyAnExactStopArgumentSendsTheQuitWord) {
    struct Case {
        std::vector<std::string> arguments;
        bool stop;
    };
    const std::vector<Case> cases = {
        {{"zanfiroWebLauncher", "-kill"}, true},
        {{"-kill"}, true},  // index 0 is compared too
        {{"zanfiroWebLauncher", "a", "-kill", "b", "-kill"}, true},
        {{"zanfiroWebLauncher", "-KILL"}, false},
        {{"zanfiroWebLauncher", "--kill"}, false},
        {{"zanfiroWebLauncher", "/kill"}, false},
        {{"zanfiroWebLauncher", "-kill=1"}, false},
        {{"zanfiroWebLauncher", "-kill "}, false},
        {{"zanfiroWebLauncher", "kill"}, false},
        {{"zanfiroWebLauncher", "-kil"}, false},
        {{"zanfiroWebLauncher"}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments) shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        fake::reset();
        pointLogHere();
        launcherAnswers();

        EXPECT_EQ(launcherMain(c.arguments), 0);

        // One exchange only, with the quit word or the probe.
        EXPECT_EQ(textsSent(), std::vector<std::string>{c.stop ? QUIT_WORD : PROBE_TEXT});
        EXPECT_TRUE(fake::state().threadsStarted.empty());
        EXPECT_EQ(fake::state().stopWaits, 0);
    }
}

TEST_F(Launcher, StopCommandEndsWithTheClientsResultAndNeverRotates) {
    struct Case {
        const char* name;
        bool connects;
        platform::IoResult received;
        int code;
        std::vector<std::string> logAdded;
    };
    const std::vector<Case> cases = {
        {"the instance answers", true, fake::transferred(120), 0, {}},
        {"the instance closes", true, fake::peerClosed(), 0, {}},
        {"nobody serves", false, fake::peerClosed(), -1, {"0|connect error"}},
        {"no answer in time", true, fake::wouldBlock(), -1, {"0|recv error"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        pointLogHere();
        fake::state().connectTo = [&](Socket, const platform::Ipv4Endpoint&, int, platform::SystemError&) {
            return c.connects;
        };
        fake::state().receiveBytes = [&](Socket, char*, std::size_t) { return c.received; };
        const std::vector<std::string> before = logLines();

        EXPECT_EQ(launcherMain({"zanfiroWebLauncher", "-kill"}), c.code);

        std::vector<std::string> expected = before;
        expected.insert(expected.end(), c.logAdded.begin(), c.logAdded.end());
        EXPECT_EQ(logLines(), expected);
        EXPECT_EQ(logtest::readFile(logPath() + ".1"), "older run\n");
        EXPECT_FALSE(std::filesystem::exists(logPath() + ".2"));
        EXPECT_TRUE(fake::state().threadsStarted.empty());
    }
}

TEST_F(Launcher, SecondInstanceLogsAndEndsWithoutRotating) {
    EXPECT_EQ(launcherMain({"zanfiroWebLauncher"}), 0);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"0|previous run", "0|Laucher already started"}));
    EXPECT_EQ(logtest::readFile(logPath() + ".1"), "older run\n");
    EXPECT_TRUE(fake::state().threadsStarted.empty());
    EXPECT_EQ(fake::state().stopWaits, 0);
}

TEST_F(Launcher, NoAnswerMakesThisProcessTheServer) {
    nobodyListens();
    fake::state().stopCode = 0;
    bool rotatedBeforeThread = false;
    int waitsBeforeThread = -1;
    fake::state().startThread = [&](void (*routine)()) {
        fake::state().threadsStarted.push_back(routine);
        rotatedBeforeThread =
            !std::filesystem::exists(logPath()) && std::filesystem::exists(logPath() + ".2");
        waitsBeforeThread = fake::state().stopWaits;
        return 0;
    };

    EXPECT_EQ(launcherMain({"zanfiroWebLauncher"}), 0);

    EXPECT_EQ(fake::state().threadsStarted, std::vector<void (*)()>{serverThreadMain});
    EXPECT_TRUE(rotatedBeforeThread);
    EXPECT_EQ(waitsBeforeThread, 0);
    EXPECT_EQ(fake::state().stopWaits, 1);
    // The probe's failure closes the old log, which became ".1".
    EXPECT_EQ(linesOf(logPath() + ".1"), (std::vector<std::string>{"0|previous run", "0|connect error"}));
    EXPECT_EQ(logtest::readFile(logPath() + ".2"), "older run\n");
    // The quit request ends the wait: its line and two empty lines.
    EXPECT_EQ(logLines(), (std::vector<std::string>{"0|Server: STOP?!.", "0|", "0|"}));
}

TEST_F(Launcher, EndsWithTheQuitRequestsCode) {
    for (int code : {0, 3, -2}) {
        fake::reset();
        pointLogHere();
        nobodyListens();
        fake::state().stopCode = code;
        EXPECT_EQ(launcherMain({"zanfiroWebLauncher"}), code);
    }
}

using LauncherDeathTest = Launcher;

TEST_F(LauncherDeathTest, ThreadThatCannotStartEndsTheProcessWithMinusOne) {
    nobodyListens();
    fake::state().startThread = [](void (*)()) { return 11; };

    EXPECT_EXIT(launcherMain({"zanfiroWebLauncher"}), ::testing::ExitedWithCode(255), "");

    // The logs were rotated already; the failure is the new log's first line.
    EXPECT_EQ(logLines(), (std::vector<std::string>{"0|ERROR; return code from CreateThread() is 11", "0|"}));
    EXPECT_EQ(linesOf(logPath() + ".1"), (std::vector<std::string>{"0|previous run", "0|connect error"}));
}

}  // namespace
