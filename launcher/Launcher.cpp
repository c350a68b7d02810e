// The launcher: runs "cmd1" of [settings] in config.ini, waits "ms"
// milliseconds and runs "cmd2", through the installed current-file API.
#include "IniCurrentFile.h"
#include "IniVersion.h"
#include "LaunchSequence.h"

#include <fcntl.h>
#include <paths.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

bool shell_available() {
    // The shell that system() runs; asking system(NULL) would start it.
    return ::access(_PATH_BSHELL, X_OK) == 0;
}

void execute_command(const char* cmd) {
    if (!shell_available()) {
        return;  // no shell to run anything with
    }
    const int status = std::system(cmd);
    // A command stopped by Ctrl-C or Ctrl-\ stops the launcher too, as it
    // would stop a shell running the commands: die of the same signal.
    if (status != -1 && WIFSIGNALED(status) && (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT)) {
        static_cast<void>(std::signal(WTERMSIG(status), SIG_DFL));
        static_cast<void>(std::raise(WTERMSIG(status)));
    }
}

std::int32_t wait_ms_from_real(float ms) {
    // The range test comes first: converting an out-of-range float to an
    // integer is undefined behaviour. NaN fails both comparisons.
    if (!(ms >= -2147483648.0F && ms < 2147483648.0F)) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(ms);
}

timespec wait_request(std::int32_t ms) {
    timespec request{};
    request.tv_sec = ms / 1000;
    // At most 999000000 in magnitude, so the product fits in 32 bits.
    request.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    return request;
}

void sleep_ms(std::int32_t ms) {
    const timespec request = wait_request(ms);
    static_cast<void>(nanosleep(&request, nullptr));
}

namespace {

const char* const configFile = "config.ini";

void execute_configured_command(const char* key) {
    ini_open(configFile);
    const std::string cmd = ini_read_string("settings", key, "");
    execute_command(cmd.c_str());
    ini_close();
}

}  // namespace

void execute_command1() { execute_configured_command("cmd1"); }

void execute_sleep_ms() {
    ini_open(configFile);
    const float ms = ini_read_real("settings", "ms", 0);
    sleep_ms(wait_ms_from_real(ms));
    ini_close();
}

void execute_command2() { execute_configured_command("cmd2"); }

namespace {

const char* const usage =
    "usage: launcher [--help | --version]\n"
    "\n"
    "Reads config.ini in the current directory and, from its [settings]\n"
    "section, runs cmd1 through /bin/sh, waits ms milliseconds, then runs\n"
    "cmd2. config.ini is read again before each step; missing keys mean an\n"
    "empty command and no wait. Any argument other than --help or --version\n"
    "is an error, and then nothing is read or run.\n";

}  // namespace

int main(int argc, char** argv) {
    // A closed standard descriptor would be taken by config.ini when it is
    // opened, and the commands would inherit it: each gets /dev/null.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) {
            return 1;
        }
    }
    if (argc > 1) {
        // Asked for help or the version, or given something it does not
        // take: answer and run nothing.
        if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("launcher %s\n", ini::version);
            return 0;
        }
        std::fprintf(stderr, "launcher: unexpected argument '%s'\n%s", argv[1], usage);
        return 2;
    }
    execute_command1();
    execute_sleep_ms();
    execute_command2();
    return 0;
}
