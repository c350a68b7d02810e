// Running one command line: FILE opened, the verb applied (an edit, a batch
// of edits, or a verb that prints), and an edited result written back.
#ifndef INIEDIT_VERBS_H
#define INIEDIT_VERBS_H

#include "Options.h"

namespace iniedit {

// The exit status of a run that did not fail.
int run(const Options& options);

}  // namespace iniedit

#endif  // INIEDIT_VERBS_H
