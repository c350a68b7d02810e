// The launcher's own steps: run "cmd1" of [settings] in config.ini, wait "ms"
// milliseconds, run "cmd2". Declared here so that tests can drive each step.
#ifndef LAUNCHER_LAUNCHSEQUENCE_H
#define LAUNCHER_LAUNCHSEQUENCE_H

#include <cstdint>
#include <ctime>

// Whether the shell that system() uses exists and can be executed; found out
// without starting a process.
bool shell_available();

// Runs `cmd` through the shell and waits for it, when a shell is available.
// An empty command is still handed to the shell; the status is ignored.
void execute_command(const char* cmd);

// Truncates `ms` toward zero; NaN, infinities and values outside
// [-2147483648, 2147483648) give -2147483648, which means no wait.
std::int32_t wait_ms_from_real(float ms);

// The nanosleep request for `ms` milliseconds; the remainder keeps the sign of
// `ms`, so a negative count gives a request that nanosleep refuses at once.
timespec wait_request(std::int32_t ms);

// Sleeps `ms` milliseconds with one nanosleep call; a negative count or a
// signal ends the wait at once.
void sleep_ms(std::int32_t ms);

void execute_command1();
void execute_sleep_ms();
void execute_command2();

#endif  // LAUNCHER_LAUNCHSEQUENCE_H
