// Running one command line: FILE opened, the verb applied (an edit, a batch
// of edits, or a verb that prints), and an edited result written back.
#ifndef INIEDIT_VERBS_H
#define INIEDIT_VERBS_H

#include "IniEditor.h"
#include "Options.h"

#include <string>
#include <vector>

namespace iniedit {

// One edit: a verb of the command line or of a batch line, and its
// operands after FILE.
struct Edit {
    std::string verb;  // set, add, del, comment, uncomment
    std::vector<std::string> args;
    bool noValue = false;  // set: a key without a value
    std::string where;     // how a message names it ("FILE: batch line 3: ")
};

// Applies one edit to the editor; a Failure for what --existing or the
// editor refuses, naming the edit by `where`.
void applyEdit(const Options& options, ini::IniEditor& editor, const Edit& edit, const std::string& where);

// The operations of a batch, checked; a Failure (status 2 or 3) for a bad
// line.
std::vector<Edit> parseBatch(const Options& options, const std::string& operations);

// The exit status of a run that did not fail.
int run(const Options& options);

}  // namespace iniedit

#endif  // INIEDIT_VERBS_H
