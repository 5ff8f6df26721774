#pragma once

// What every fuzzer shares: checks that abort (so libFuzzer keeps the input
// and the corpus replay fails), and a reader that turns the fuzzer's bytes
// into choices.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace zelvar::fuzz {

// Bytes outside printable ASCII are shown as \xNN, so that the detail of a
// failure survives NULs and control characters in the input.
inline std::string printable(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\') {
            out += c;
        } else if (c == '\n') {
            out += "\\n\n    ";
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        }
    }
    return out;
}

[[noreturn]] inline void fail(const char* file, int line, const char* condition, const std::string& detail)
{
    std::fprintf(stderr, "%s:%d: invariant violated: %s\n    %s\n", file, line, condition, printable(detail).c_str());
    std::fflush(stderr);
    std::abort();
}

// An exception's message is a C string: text with a NUL in it can only show
// up to that NUL.
inline std::string_view upToNul(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}

// Consumes the fuzzer's bytes front to back; once they run out every choice
// is 0 and every piece is empty, so that any input is a complete script.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return size_ - pos_; }

    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }

    // Up to `count` bytes, fewer at the end of the input.
    std::string_view bytes(std::size_t count)
    {
        const std::size_t n = count < remaining() ? count : remaining();
        const std::string_view piece(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return piece;
    }

    std::string_view rest() { return bytes(remaining()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace zelvar::fuzz

// Checks an invariant of the code under test; `detail` (a std::string
// expression) is only built when the check fails.
#define ZELVAR_FUZZ_CHECK(condition, detail)                                                                           \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::zelvar::fuzz::fail(__FILE__, __LINE__, #condition, (detail));                                            \
    } while (false)
