// Deterministic INI documents for the benchmarks: sections of 5 to 40 keys,
// whole-line ';' comments and blank lines between entries, inline comments,
// quoted values with blanks, values of varied length. Every line stays below
// 200 bytes so that line-limited parsers see the same lines.
#ifndef BENCH_DOCUMENT_GENERATOR_H
#define BENCH_DOCUMENT_GENERATOR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bench {

enum class Profile {
    mixed,         // about a fifth of the lines are comments
    commentHeavy,  // about seven tenths
};

inline const char* profileName(Profile p) { return p == Profile::mixed ? "mixed" : "comments"; }

// A small linear congruential generator: the same numbers on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::size_t below(std::size_t n) { return next() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

inline std::string generateDocument(Profile profile, std::size_t targetBytes) {
    static constexpr std::string_view words[] = {
        "alpha", "server", "timeout", "path",    "colour", "retry", "buffer",  "user",  "level",  "mode",
        "cache", "window", "port",    "address", "volume", "speed", "texture", "limit", "enable", "name"};
    const auto word = [](Random& r) { return words[r.below(std::size(words))]; };
    // Comment lines per key line, in hundredths: 25 gives about 1 in 5 lines,
    // 240 about 7 in 10.
    const std::size_t commentsPerKey = profile == Profile::mixed ? 25 : 240;

    Random r(profile == Profile::mixed ? 1 : 2);
    std::string out;
    out.reserve(targetBytes + 4096);
    for (std::size_t section = 0; out.size() < targetBytes; ++section) {
        if (r.chance(50)) {
            out += "; ---- settings for ";
            out += word(r);
            out += " ----\n";
        }
        out += '[';
        out += word(r);
        out += '.';
        out += std::to_string(section);
        out += "]\n";
        const std::size_t keys = 5 + r.below(36);
        for (std::size_t k = 0; k < keys; ++k) {
            // A whole number of comment lines plus a chance of one more.
            std::size_t comments = commentsPerKey / 100 + (r.below(100) < commentsPerKey % 100 ? 1 : 0);
            for (; comments > 0; --comments) {
                if (r.chance(15)) {
                    out += '\n';
                    continue;
                }
                out += r.chance(20) ? "  ; " : "; ";
                const std::size_t length = 1 + r.below(12);
                for (std::size_t w = 0; w < length; ++w) {
                    out += word(r);
                    out += ' ';
                }
                out += '\n';
            }
            out += word(r);
            out += '_';
            out += std::to_string(k);
            out += r.chance(70) ? " = " : "=";
            const std::size_t kind = r.below(10);
            if (kind < 4) {
                out += std::to_string(r.next() % 100000);
            } else if (kind < 5) {
                out += "\"  ";
                out += word(r);
                out += ' ';
                out += word(r);
                out += "  \"";
            } else {
                const std::size_t length = 1 + r.below(kind < 8 ? 3 : 14);
                for (std::size_t w = 0; w < length; ++w) {
                    if (w > 0) out += r.chance(50) ? "/" : " ";
                    out += word(r);
                }
            }
            if (r.chance(25)) {
                out += " ; ";
                out += word(r);
                out += ' ';
                out += word(r);
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace bench

#endif  // BENCH_DOCUMENT_GENERATOR_H
