// iniedit's exit statuses, each with its meaning in the manual page, and
// the one way a run ends early: a Failure, which main turns into its status
// and one line on standard error.
#ifndef INIEDIT_STATUS_H
#define INIEDIT_STATUS_H

#include <string>

namespace iniedit {

// The exit statuses, each with its meaning in the manual page.
enum Status : int {
    success = 0,
    notFound = 1,
    usageError = 2,
    refusedUnsafe = 3,
    ioFailure = 4,
    notDurable = 5,
};

// Ends the run with `status` and one line on standard error.
struct Failure {
    Status status;
    std::string message;
};

[[noreturn]] inline void fail(Status status, const std::string& message) { throw Failure{status, message}; }

}  // namespace iniedit

#endif  // INIEDIT_STATUS_H
