// The launcher: the millisecond conversion and wait request in-process, and
// the built program run end to end in a temporary directory.
#include "LaunchSequence.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(WaitMilliseconds, TruncatesTowardZeroOrGivesNoWait) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float ms;
        std::int32_t expected;
    };
    for (const auto& c : std::vector<Case>{
             {1500.0F, 1500},
             {999.9F, 999},
             {0.5F, 0},
             {-0.5F, 0},
             {-1.0F, -1},
             {-1000.0F, -1000},
             {16777217.0F, 16777216},      // already rounded when read as float
             {2147483520.0F, 2147483520},  // the largest float below 2^31
             {2147483647.0F, INT32_MIN},   // rounds to 2^31 as a float
             {3000000000.0F, INT32_MIN},
             {-2147483648.0F, INT32_MIN},
             {-3000000000.0F, INT32_MIN},
             {inf, INT32_MIN},
             {-inf, INT32_MIN},
             {std::numeric_limits<float>::quiet_NaN(), INT32_MIN},
         }) {
        SCOPED_TRACE(c.ms);
        EXPECT_EQ(wait_ms_from_real(c.ms), c.expected);
    }
}

TEST(WaitRequest, SplitsIntoSecondsAndNanoseconds) {
    struct Case {
        std::int32_t ms;
        long long sec;
        long long nsec;
    };
    for (const auto& c : std::vector<Case>{
             {0, 0, 0},
             {1500, 1, 500000000},
             {999, 0, 999000000},
             {2147483520, 2147483, 520000000},
             {-1, 0, -1000000},  // negative fields: nanosleep refuses, no wait
             {-1000, -1, 0},
             {INT32_MIN, -2147483, -648000000},
         }) {
        SCOPED_TRACE(c.ms);
        const timespec request = wait_request(c.ms);
        EXPECT_EQ(request.tv_sec, c.sec);
        EXPECT_EQ(request.tv_nsec, c.nsec);
    }
}

// The launcher finds the shell by its path rather than by starting one; the
// answer must agree with the C library's own.
TEST(ShellAvailable, AgreesWithTheCLibrary) { EXPECT_EQ(shell_available(), std::system(nullptr) != 0); }

TEST(SleepMs, NegativeCountReturnsAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    sleep_ms(-1000);
    sleep_ms(INT32_MIN);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

// Runs the built launcher in a directory of its own, where the test puts
// config.ini and finds what the launcher printed.
class LauncherRun : public ScratchDirTest {
protected:
    void writeConfig(const std::string& text) const { put("config.ini", text); }

    // Runs the launcher with `arguments` (shell words).
    int run(const std::string& arguments = "") const {
        const std::string command =
            "cd '" + dir_.string() + "' && '" LAUNCHER_PATH "' " + arguments + " >stdout.txt 2>stderr.txt";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(LauncherRun, ArgumentsRunNothing) {
    writeConfig("[settings]\ncmd1 = touch ran1\ncmd2 = touch ran2\n");
    const std::string usage = "usage: launcher [--help | --version]\n";
    struct Case {
        const char* arguments;
        int status;
        std::string out;  // the start of standard output
        std::string err;  // the start of standard error
    };
    for (const auto& c : std::vector<Case>{
             {"--help", 0, usage, ""},
             {"--version", 0, "launcher 0.1.0\n", ""},
             {"--bogus", 2, "", "launcher: unexpected argument '--bogus'\n" + usage},
             {"config.ini", 2, "", "launcher: unexpected argument 'config.ini'\n"},
             {"--help --version", 2, "", "launcher: unexpected argument '--help'\n"},
             {"''", 2, "", "launcher: unexpected argument ''\n"},
         }) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments), c.status);
        EXPECT_EQ(contents("stdout.txt").substr(0, c.out.size()), c.out);
        EXPECT_EQ(contents("stderr.txt").substr(0, c.err.size()), c.err);
        EXPECT_EQ(contents("stdout.txt").empty(), c.out.empty());
        EXPECT_FALSE(std::filesystem::exists(path("ran1")) || std::filesystem::exists(path("ran2")));
    }
}

TEST_F(LauncherRun, PauseLiesBetweenTheCommands) {
    writeConfig(
        "[settings]\n"
        "; first, then a pause, then the second\n"
        "cmd1 = \"echo one; date +%s%N > t1\"\n"
        "ms = 300.9\n"
        "cmd2 = \"date +%s%N > t2; echo two\"\n");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(contents("stdout.txt"), "one\ntwo\n");
    EXPECT_EQ(contents("stderr.txt"), "");
    const long long t1 = std::stoll(contents("t1"));
    const long long t2 = std::stoll(contents("t2"));
    EXPECT_GE(t2 - t1, 300LL * 1000000);
    EXPECT_LT(t2 - t1, 5000LL * 1000000);
}

TEST_F(LauncherRun, WithoutConfigRunsEmptyCommandsAndExitsZero) {
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(contents("stdout.txt"), "");
    EXPECT_EQ(contents("stderr.txt"), "");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "config.ini"));  // writes no file
}

TEST_F(LauncherRun, KeysElsewhereAreNotSeen) {
    writeConfig(
        "cmd1 = echo before-header\n"
        "[Settings]\n"
        "cmd1 = echo wrong-case\n"
        "[settings]\n"
        "cmd2 = \"echo unclosed\n"
        "ms = -1\n");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(contents("stdout.txt"), "");
}

TEST_F(LauncherRun, QuotedCommandKeepsSemicolons) {
    writeConfig("[settings]\ncmd1 = \"echo a; echo b\" ; runs both\ncmd2 = echo c;echo d\n");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(contents("stdout.txt"), "a\nb\nc\n");
}

TEST_F(LauncherRun, FailingCommandDoesNotStopTheRest) {
    writeConfig("[settings]\ncmd1 = \"exit 3\"\ncmd2 = echo after\n");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(contents("stdout.txt"), "after\n");
}

// A command stopped by Ctrl-C (or Ctrl-\\) stops the launcher as it would
// stop a shell running the commands: cmd2 does not run, and the launcher
// dies of the same signal.
TEST_F(LauncherRun, InterruptedCommandStopsTheRest) {
    for (const auto& [name, number] : {std::pair<std::string, int>{"INT", SIGINT}, {"QUIT", SIGQUIT}}) {
        SCOPED_TRACE(name);
        writeConfig("[settings]\ncmd1 = kill -" + name + " $$\ncmd2 = touch ran2\n");
        EXPECT_EQ(run(), 128 + number);  // as the shell reports a death by that signal
        EXPECT_FALSE(std::filesystem::exists(path("ran2")));
    }
}

TEST_F(LauncherRun, FileIsReadAgainAtEachStep) {
    // cmd1 rewrites config.ini; steps 2 and 3 see the new cmd2.
    writeConfig(
        "[settings]\n"
        "cmd1 = \"printf '[settings]\\ncmd2 = echo rewritten\\n' > config.ini\"\n"
        "cmd2 = echo original\n");
    ASSERT_EQ(run(), 0);
    EXPECT_EQ(contents("stdout.txt"), "rewritten\n");
}

}  // namespace
