#pragma once

#include <compare>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvar {

// A signed exact decimal: an unsigned 96-bit coefficient and a power-of-ten
// scale of 0 to 28, value = (-1)^negative * coefficient / 10^scale.
//
// Arithmetic gives the exact result when it fits; otherwise the exact result
// is rounded half to even to the largest scale at which the coefficient fits
// in 96 bits. A result that does not fit even at scale 0 is an overflow.
// Overflow and division by zero throw RuntimeError.
class Decimal {
public:
    constexpr Decimal() = default;
    Decimal(std::int64_t value); // NOLINT(google-explicit-constructor): integers mix freely
    // A double would otherwise convert silently through int64 and lose its
    // fraction; fromDouble says what is meant.
    template <std::floating_point F>
    Decimal(F) = delete;

    // The value a double shows with 15 significant digits, so 3.141592654
    // stays 3.141592654 and 0.1 + 0.2 becomes 0.3; below 1e-28 those digits
    // round half to even to a multiple of 1e-28 (possibly 0). Throws
    // RuntimeError for a non-finite value or one outside the decimal range.
    static Decimal fromDouble(double value);

    // coefficient / 10^scale, exactly; scale 0 to 28 (else RuntimeError).
    static Decimal scaled(std::int64_t coefficient, int scale);

    // Plain decimal text: optional sign, digits with at most one ".", no
    // blanks, no exponent. Digits beyond scale 28 are rounded half to even.
    // Throws RuntimeError naming the text when it is not such a number or is
    // out of range.
    static Decimal parse(std::string_view text);
    static bool tryParse(std::string_view text, Decimal& out) noexcept;
    // tryParse that tells a number too large for the type (Overflow) from
    // text that is no number at all.
    enum class ParseStatus { Ok, NotANumber, Overflow };
    static ParseStatus parseInto(std::string_view text, Decimal& out) noexcept;

    // Plain decimal text with "." as separator, no exponent, no trailing
    // zeros, "0" for zero, a leading "0" before the point for |x| < 1.
    std::string toString() const;

    double toDouble() const noexcept;

    // Rounded half to even to an integer (still a Decimal).
    Decimal roundHalfEven() const;

    bool isZero() const noexcept { return lo_ == 0 && mid_ == 0 && hi_ == 0; }
    bool isNegative() const noexcept { return negative_ && !isZero(); }
    int scale() const noexcept { return scale_; }

    friend Decimal operator+(const Decimal& a, const Decimal& b);
    friend Decimal operator-(const Decimal& a, const Decimal& b);
    friend Decimal operator*(const Decimal& a, const Decimal& b);
    friend Decimal operator/(const Decimal& a, const Decimal& b);
    Decimal operator-() const noexcept;

    Decimal& operator+=(const Decimal& b) { return *this = *this + b; }
    Decimal& operator-=(const Decimal& b) { return *this = *this - b; }
    Decimal& operator*=(const Decimal& b) { return *this = *this * b; }
    Decimal& operator/=(const Decimal& b) { return *this = *this / b; }

    // Numeric comparison: 1.0 == 1.
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept;
    friend bool operator==(const Decimal& a, const Decimal& b) noexcept;

    static constexpr int kMaxScale = 28;

private:
    std::uint32_t lo_ = 0;
    std::uint32_t mid_ = 0;
    std::uint32_t hi_ = 0;
    std::uint8_t scale_ = 0;
    bool negative_ = false;

    friend struct DecimalAccess;
};

} // namespace zelvar
