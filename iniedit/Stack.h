// The verbs over a stack of files (--layer, --stack): reading the merged
// configuration with where each value comes from, and edits that land in
// the file where they take effect.
#ifndef INIEDIT_STACK_H
#define INIEDIT_STACK_H

#include "Options.h"

namespace iniedit {

// The exit status of a run over a stack that did not fail.
int runStack(const Options& options);

}  // namespace iniedit

#endif  // INIEDIT_STACK_H
