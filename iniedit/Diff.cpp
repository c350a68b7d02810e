// Unified diffs (Diff.h): the shortest edit script between the lines of two
// texts (Myers' algorithm, after the common first and last lines are set
// aside, as an edit touches few lines), printed in hunks.
#include "Diff.h"

#include <algorithm>
#include <vector>

namespace iniedit {
namespace {

// The lines of `text`, each with its '\n' (the last one may have none).
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

enum class Op : char { same = ' ', removed = '-', added = '+' };

// The edit script turning a into b, both views of whole line arrays.
// Beyond `limit` differences the rest is given as all removed, then all
// added: still a correct diff, only not the shortest, and the memory stays
// bounded.
std::vector<Op> script(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    const long n = static_cast<long>(a.size() - head - tail);
    const long m = static_cast<long>(b.size() - head - tail);
    const auto x_of = [&](long x) { return a[head + static_cast<std::size_t>(x)]; };
    const auto y_of = [&](long y) { return b[head + static_cast<std::size_t>(y)]; };
    std::vector<Op> middle;
    constexpr long limit = 1000;
    const long most = std::min(n + m, limit);
    // v[k + most] is the furthest x on diagonal k; trace keeps the part
    // [-d, d] of v as round d found it, all that walking back reads.
    std::vector<long> v(static_cast<std::size_t>(2 * most + 2), 0);
    std::vector<std::vector<long>> trace;
    long found = -1;
    for (long d = 0; d <= most && found < 0; ++d) {
        trace.emplace_back(v.begin() + (most - d), v.begin() + (most + d + 1));
        for (long k = -d; k <= d; k += 2) {
            const auto at = [&](long diagonal) -> long& {
                return v[static_cast<std::size_t>(diagonal + most)];
            };
            long x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
            long y = x - k;
            while (x < n && y < m && x_of(x) == y_of(y)) {
                ++x;
                ++y;
            }
            at(k) = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0) {
        middle.assign(static_cast<std::size_t>(n), Op::removed);
        middle.insert(middle.end(), static_cast<std::size_t>(m), Op::added);
    } else {
        // Walked back from the end, each round's snake and its one step.
        long x = n;
        long y = m;
        for (long d = found; d > 0; --d) {
            const std::vector<long>& previous = trace[static_cast<std::size_t>(d)];
            const auto at = [&](long diagonal) { return previous[static_cast<std::size_t>(diagonal + d)]; };
            const long k = x - y;
            const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
            const long startK = down ? k + 1 : k - 1;
            const long startX = at(startK);
            const long startY = startX - startK;
            while (x > startX + (down ? 0 : 1) && y > startY + (down ? 1 : 0)) {
                middle.push_back(Op::same);
                --x;
                --y;
            }
            middle.push_back(down ? Op::added : Op::removed);
            x = startX;
            y = startY;
        }
        while (x > 0 && y > 0) {
            middle.push_back(Op::same);
            --x;
            --y;
        }
        std::reverse(middle.begin(), middle.end());
    }
    std::vector<Op> ops(head, Op::same);
    ops.insert(ops.end(), middle.begin(), middle.end());
    ops.insert(ops.end(), tail, Op::same);
    return ops;
}

// "start,count" as a hunk header gives a range: a count of 1 is left out,
// and an empty range names the line before it.
std::string range(std::size_t start, std::size_t count) {
    if (count == 1) {
        return std::to_string(start + 1);
    }
    return std::to_string(count == 0 ? start : start + 1) + "," + std::to_string(count);
}

}  // namespace

std::string unifiedDiff(std::string_view before, std::string_view after, const std::string& beforeName,
                        const std::string& afterName) {
    if (before == after) {
        return {};
    }
    const std::vector<std::string_view> a = linesOf(before);
    const std::vector<std::string_view> b = linesOf(after);
    const std::vector<Op> ops = script(a, b);
    constexpr std::size_t context = 3;
    std::string out = "--- " + beforeName + "\n+++ " + afterName + "\n";
    // Each op's line number in a and in b.
    std::vector<std::size_t> inA(ops.size() + 1, 0);
    std::vector<std::size_t> inB(ops.size() + 1, 0);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        inA[i + 1] = inA[i] + (ops[i] != Op::added ? 1 : 0);
        inB[i + 1] = inB[i] + (ops[i] != Op::removed ? 1 : 0);
    }
    std::size_t i = 0;
    while (i < ops.size()) {
        if (ops[i] == Op::same) {
            ++i;
            continue;
        }
        // A hunk: from `context` lines before this change to `context` lines
        // after the last change that is no more than twice that apart.
        const std::size_t first = i >= context ? i - context : 0;
        std::size_t last = i;
        for (std::size_t j = i; j < ops.size() && j <= last + 2 * context; ++j) {
            if (ops[j] != Op::same) {
                last = j;
            }
        }
        const std::size_t end = std::min(ops.size(), last + 1 + context);
        out += "@@ -" + range(inA[first], inA[end] - inA[first]) + " +" +
               range(inB[first], inB[end] - inB[first]) + " @@\n";
        for (std::size_t j = first; j < end; ++j) {
            const std::string_view line = ops[j] == Op::added ? b[inB[j]] : a[inA[j]];
            out += static_cast<char>(ops[j]);
            out += line;
            if (line.empty() || line.back() != '\n') {
                out += "\n\\ No newline at end of file\n";
            }
        }
        i = end;
    }
    return out;
}

}  // namespace iniedit
