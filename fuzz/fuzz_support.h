// Shared by the fuzz targets: a failed property aborts with a message, so it
// is caught with or without NDEBUG and with or without libFuzzer.
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include "IniFileIndex.h"
#include "test_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "property violated: %s\n%s\n", what, ini_test::escaped(detail).c_str());
    std::abort();
}

inline void require(bool holds, const char* what, const std::string& detail = {}) {
    if (!holds) {
        fail(what, detail);
    }
}

inline void requireInvariants(const ini::IniFileIndex& doc) {
    const std::string problem = ini_test::invariantViolation(doc);
    require(problem.empty(), "document invariants", problem);
}

// Reads the fuzzer's bytes as a little program: numbers, short strings and
// floats, all of which are well defined once the input runs out.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ == size_; }

    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }

    // A string of up to `limit` bytes, its length given by the next byte.
    std::string text(std::size_t limit = 255) {
        std::size_t length = byte();
        if (length == 255 && limit > 255) {
            // Two statements: the order of two reads in one expression is
            // unspecified.
            const std::size_t high = byte();
            const std::size_t low = byte();
            length = high << 8 | low;
        }
        length = std::min({length, limit, size_ - pos_});
        std::string out(reinterpret_cast<const char*>(data_ + pos_), length);
        pos_ += length;
        return out;
    }

    float real() {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) {
            bits = bits << 8 | byte();
        }
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Mostly names from a small set, so that operations meet the same
    // sections and keys; sometimes arbitrary bytes.
    std::string name() {
        static constexpr std::string_view common[] = {"",  "s",   "t",    "k", "a[b", " s",
                                                      "S", "a]b", "k ;c", "=", "\r"};
        const std::uint8_t pick = byte();
        if (pick < 200) {
            return std::string(common[pick % std::size(common)]);
        }
        return text(16);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace fuzz

#endif  // FUZZ_FUZZ_SUPPORT_H
