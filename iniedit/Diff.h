// A unified diff of two texts, as `diff -u` prints it, for --diff.
#ifndef INIEDIT_DIFF_H
#define INIEDIT_DIFF_H

#include <string>
#include <string_view>

namespace iniedit {

// The lines that differ between `before` and `after` with three lines of
// context, under "--- beforeName" and "+++ afterName"; empty when the texts
// are equal. A last line without a newline is marked as diff marks it.
std::string unifiedDiff(std::string_view before, std::string_view after, const std::string& beforeName,
                        const std::string& afterName);

}  // namespace iniedit

#endif  // INIEDIT_DIFF_H
