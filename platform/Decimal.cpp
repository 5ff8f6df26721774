#include "platform/Decimal.h"

#include "platform/RuntimeError.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace zelvar {

namespace {

// GCC and Clang provide a native 128-bit integer; __extension__ keeps
// -Wpedantic quiet about it. A coefficient (< 2^96) always fits, and so do
// most intermediate results, which is what keeps the common paths fast.
__extension__ typedef unsigned __int128 U128;

constexpr U128 kCoefficientLimit = U128(1) << 96;
constexpr int kMaxScale = Decimal::kMaxScale;

constexpr std::array<U128, 39> makePowersOfTen()
{
    std::array<U128, 39> powers{};
    U128 p = 1;
    for (auto& entry : powers) {
        entry = p;
        p *= 10;
    }
    return powers;
}

constexpr std::array<U128, 39> kPow10 = makePowersOfTen();

int bitLength(U128 v) noexcept
{
    const auto high = static_cast<std::uint64_t>(v >> 64);
    if (high != 0)
        return 128 - std::countl_zero(high);
    return 64 - std::countl_zero(static_cast<std::uint64_t>(v));
}

constexpr std::array<int, 39> makePowerBitLengths()
{
    std::array<int, 39> bits{};
    for (std::size_t i = 0; i < bits.size(); ++i) {
        int n = 0;
        for (U128 v = kPow10[i]; v != 0; v >>= 1)
            ++n;
        bits[i] = n;
    }
    return bits;
}

// 10^d < 2^kPow10Bits[d]: a coefficient scaled by 10^d stays inside 128 bits
// when the two bit lengths sum to at most 128.
constexpr std::array<int, 39> kPow10Bits = makePowerBitLengths();

bool fitsIn64(U128 v) noexcept
{
    return (v >> 64) == 0;
}

// Smallest number of decimal digits that must be dropped from a value of
// `bits` bits before it can fit in 96 bits, possibly one short: 0.30102 is a
// hair below log10(2), so this never asks for too many.
int digitsToDropForBits(int bits) noexcept
{
    return bits > 96 ? (bits - 97) * 30102 / 100000 + 1 : 0;
}

// Quotient and remainder, using the much cheaper 64-bit division when the
// operands allow it.
U128 divide(U128 n, U128 d, U128& rem) noexcept
{
    if (fitsIn64(n) && fitsIn64(d)) {
        const auto n64 = static_cast<std::uint64_t>(n);
        const auto d64 = static_cast<std::uint64_t>(d);
        const std::uint64_t q = n64 / d64;
        rem = n64 - q * d64;
        return q;
    }
    const U128 q = n / d;
    rem = n - q * d;
    return q;
}

// A magnitude on its way to becoming a coefficient: `t` at `scale`, plus what
// has been cut off below it so far, kept exactly enough to round half to even
// without ever rounding twice: the first cut digit and whether anything
// after it was non-zero.
struct Pending {
    U128 t = 0;
    int scale = 0;
    unsigned digit = 0;
    bool sticky = false;
};

void dropUpTo38(Pending& p, int k) noexcept
{
    p.sticky = p.sticky || p.digit != 0;
    if (fitsIn64(p.t) && k <= 19) {
        const auto t = static_cast<std::uint64_t>(p.t);
        const auto unit = static_cast<std::uint64_t>(kPow10[static_cast<std::size_t>(k - 1)]);
        const std::uint64_t q = t / unit;
        p.sticky = p.sticky || t - q * unit != 0;
        const std::uint64_t q10 = q / 10;
        p.digit = static_cast<unsigned>(q - q10 * 10);
        p.t = q10;
        return;
    }
    U128 low = 0;
    const U128 q = divide(p.t, kPow10[static_cast<std::size_t>(k - 1)], low);
    p.sticky = p.sticky || low != 0;
    U128 digit = 0;
    p.t = divide(q, 10, digit);
    p.digit = static_cast<unsigned>(digit);
}

void dropDigits(Pending& p, int k) noexcept
{
    p.scale -= k;
    while (k > 38) {
        dropUpTo38(p, 38);
        k -= 38;
    }
    if (k > 0)
        dropUpTo38(p, k);
}

// Rounds half to even to the largest scale <= 28 at which the coefficient
// fits in 96 bits. False when it does not fit even at scale 0.
bool settle(Pending& p) noexcept
{
    const int k = std::max(p.scale - kMaxScale, digitsToDropForBits(bitLength(p.t)));
    if (k > 0)
        dropDigits(p, k);
    while (p.t >= kCoefficientLimit)
        dropDigits(p, 1);
    for (;;) {
        if (p.scale < 0)
            return false;
        const bool up = p.digit > 5 || (p.digit == 5 && (p.sticky || (p.t & 1) != 0));
        if (!up)
            return true;
        if (p.t + 1 < kCoefficientLimit) {
            ++p.t;
            return true;
        }
        // Rounding up reached 2^96: cut one more digit from the unrounded
        // value rather than from the rounded one.
        dropDigits(p, 1);
    }
}

// Up to 192 bits, for the products and aligned sums that outgrow U128.
struct Wide {
    std::array<std::uint32_t, 6> limb{};
    int size = 0;

    void trim() noexcept
    {
        while (size > 0 && limb[static_cast<std::size_t>(size - 1)] == 0)
            --size;
    }

    int bits() const noexcept
    {
        if (size == 0)
            return 0;
        return 32 * (size - 1) + 32 - std::countl_zero(limb[static_cast<std::size_t>(size - 1)]);
    }

    U128 low128() const noexcept
    {
        U128 v = 0;
        for (int i = std::min(size, 4) - 1; i >= 0; --i)
            v = (v << 32) | limb[static_cast<std::size_t>(i)];
        return v;
    }
};

void splitLimbs(U128 v, std::uint32_t (&out)[3]) noexcept
{
    out[0] = static_cast<std::uint32_t>(v);
    out[1] = static_cast<std::uint32_t>(v >> 32);
    out[2] = static_cast<std::uint32_t>(v >> 64);
}

// Both factors below 2^96.
Wide multiplyWide(U128 x, U128 y) noexcept
{
    std::uint32_t a[3];
    std::uint32_t b[3];
    splitLimbs(x, a);
    splitLimbs(y, b);
    Wide w;
    for (std::size_t i = 0; i < 3; ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            const std::uint64_t cur = std::uint64_t{a[i]} * b[j] + w.limb[i + j] + carry;
            w.limb[i + j] = static_cast<std::uint32_t>(cur);
            carry = cur >> 32;
        }
        w.limb[i + 3] = static_cast<std::uint32_t>(carry);
    }
    w.size = 6;
    w.trim();
    return w;
}

void addToWide(Wide& w, U128 v) noexcept
{
    std::uint32_t add[3];
    splitLimbs(v, add);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < w.limb.size(); ++i) {
        const std::uint64_t cur = std::uint64_t{w.limb[i]} + (i < 3 ? add[i] : 0u) + carry;
        w.limb[i] = static_cast<std::uint32_t>(cur);
        carry = cur >> 32;
    }
    w.size = 6;
    w.trim();
}

// w >= v.
void subtractFromWide(Wide& w, U128 v) noexcept
{
    std::uint32_t sub[3];
    splitLimbs(v, sub);
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < w.limb.size(); ++i) {
        const std::uint64_t cur = std::uint64_t{w.limb[i]} - (i < 3 ? sub[i] : 0u) - borrow;
        w.limb[i] = static_cast<std::uint32_t>(cur);
        borrow = (cur >> 32) != 0 ? 1 : 0;
    }
    w.trim();
}

// Constant divisors let the compiler divide by multiplication.
template <std::uint32_t D>
std::uint32_t divideWideBy(Wide& w) noexcept
{
    std::uint64_t rem = 0;
    for (int i = w.size - 1; i >= 0; --i) {
        const std::uint64_t cur = (rem << 32) | w.limb[static_cast<std::size_t>(i)];
        const std::uint64_t q = cur / D;
        w.limb[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(q);
        rem = cur - q * D;
    }
    w.trim();
    return static_cast<std::uint32_t>(rem);
}

std::uint32_t divideWideByPow10(Wide& w, int k) noexcept
{
    switch (k) {
    case 1:
        return divideWideBy<10u>(w);
    case 2:
        return divideWideBy<100u>(w);
    case 3:
        return divideWideBy<1000u>(w);
    case 4:
        return divideWideBy<10000u>(w);
    case 5:
        return divideWideBy<100000u>(w);
    case 6:
        return divideWideBy<1000000u>(w);
    case 7:
        return divideWideBy<10000000u>(w);
    case 8:
        return divideWideBy<100000000u>(w);
    default:
        return divideWideBy<1000000000u>(w);
    }
}

// Cuts enough digits from a wide magnitude for it to fit in a U128 Pending,
// at least as many as the scale limit demands, then settles it.
bool settleWide(Wide w, int scale, Pending& p) noexcept
{
    int k = std::max(scale - kMaxScale, digitsToDropForBits(w.bits()));
    p.scale = scale - k;
    bool sticky = false;
    while (k > 9) {
        if (divideWideBy<1000000000u>(w) != 0)
            sticky = true;
        k -= 9;
    }
    const std::uint32_t rem = divideWideByPow10(w, k);
    const auto unit = static_cast<std::uint32_t>(kPow10[static_cast<std::size_t>(k - 1)]);
    p.digit = rem / unit;
    p.sticky = sticky || rem % unit != 0;
    p.t = w.low128();
    return settle(p);
}

// Removes trailing zeros a division produced, so that the next operation
// starts from the smallest coefficient.
void stripTrailingZeros(U128& c, int& scale) noexcept
{
    while (scale > 0 && !fitsIn64(c)) {
        U128 rem = 0;
        const U128 q = divide(c, 10, rem);
        if (rem != 0)
            return;
        c = q;
        --scale;
    }
    auto v = static_cast<std::uint64_t>(c);
    while (scale >= 8 && v % 100000000u == 0) {
        v /= 100000000u;
        scale -= 8;
    }
    while (scale > 0 && v % 10u == 0) {
        v /= 10u;
        --scale;
    }
    c = v;
}

using ParseStatus = Decimal::ParseStatus;

} // namespace

// The arithmetic works on whole coefficients; this is its way in and out.
struct DecimalAccess {
    static U128 coefficient(const Decimal& d) noexcept { return (U128(d.hi_) << 64) | (U128(d.mid_) << 32) | d.lo_; }

    static Decimal make(U128 coefficient, int scale, bool negative) noexcept
    {
        Decimal d;
        d.lo_ = static_cast<std::uint32_t>(coefficient);
        d.mid_ = static_cast<std::uint32_t>(coefficient >> 32);
        d.hi_ = static_cast<std::uint32_t>(coefficient >> 64);
        d.scale_ = static_cast<std::uint8_t>(scale);
        d.negative_ = negative && coefficient != 0;
        return d;
    }

    static bool negative(const Decimal& d) noexcept { return d.negative_; }

    [[noreturn]] static void overflow(const Decimal& a, const char* op, const Decimal& b)
    {
        throw RuntimeError("decimal overflow: " + a.toString() + op + b.toString());
    }

    static Decimal settled(Pending& p, bool negative, const Decimal& a, const char* op, const Decimal& b)
    {
        if (!settle(p))
            overflow(a, op, b);
        return make(p.t, p.scale, negative);
    }

    static Decimal addSigned(const Decimal& a, const Decimal& b, bool negateB, const char* op)
    {
        const U128 x = coefficient(a);
        const U128 y = coefficient(b);
        const bool negA = a.negative_;
        const bool negB = b.negative_ != negateB;
        if (y == 0)
            return make(x, a.scale_, negA);
        if (x == 0)
            return make(y, b.scale_, negB);

        // Align to the larger scale; only one side needs scaling.
        const int scale = std::max(a.scale_, b.scale_);
        const int shiftA = scale - a.scale_;
        const int shiftB = scale - b.scale_;
        U128 big = shiftA != 0 ? x : y;
        const U128 other = shiftA != 0 ? y : x;
        const bool negBig = shiftA != 0 ? negA : negB;
        const bool negOther = shiftA != 0 ? negB : negA;
        const int shift = shiftA + shiftB;

        if (bitLength(big) + kPow10Bits[static_cast<std::size_t>(shift)] <= 127) {
            big *= kPow10[static_cast<std::size_t>(shift)];
            U128 sum = 0;
            bool negative = false;
            if (negBig == negOther) {
                sum = big + other;
                negative = negBig;
            } else if (big >= other) {
                sum = big - other;
                negative = negBig;
            } else {
                sum = other - big;
                negative = negOther;
            }
            if (sum < kCoefficientLimit)
                return make(sum, scale, negative);
            Pending p{sum, scale, 0, false};
            return settled(p, negative, a, op, b);
        }

        // The scaled side is at least 2^126 here, so it dominates the sign.
        Wide w = multiplyWide(big, kPow10[static_cast<std::size_t>(shift)]);
        if (negBig == negOther)
            addToWide(w, other);
        else
            subtractFromWide(w, other);
        Pending p;
        if (!settleWide(w, scale, p))
            overflow(a, op, b);
        return make(p.t, p.scale, negBig);
    }

    static Decimal multiply(const Decimal& a, const Decimal& b)
    {
        const U128 x = coefficient(a);
        const U128 y = coefficient(b);
        const bool negative = a.negative_ != b.negative_;
        const int scale = a.scale_ + b.scale_;
        if (x == 0 || y == 0)
            return Decimal();
        if (bitLength(x) + bitLength(y) <= 128) {
            const U128 product = x * y;
            if (product < kCoefficientLimit && scale <= kMaxScale)
                return make(product, scale, negative);
            Pending p{product, scale, 0, false};
            return settled(p, negative, a, " * ", b);
        }
        Pending p;
        if (!settleWide(multiplyWide(x, y), scale, p))
            overflow(a, " * ", b);
        return make(p.t, p.scale, negative);
    }

    // Long division producing decimal digits in chunks: the quotient so far
    // `c` at scale `scale` plus remainder `r` over the divisor. Every step
    // keeps c < 2^96 and r < divisor < 2^96, so chunks of 9 digits (19 when
    // both are below 2^64) never leave 128 bits.
    static Decimal divideBy(const Decimal& a, const Decimal& b)
    {
        const U128 x = coefficient(a);
        const U128 y = coefficient(b);
        if (y == 0)
            throw RuntimeError("division by zero: " + a.toString() + " / " + b.toString());
        if (x == 0)
            return Decimal();
        const bool negative = a.negative_ != b.negative_;

        int scale = a.scale_ - b.scale_;
        U128 r = 0;
        U128 c = divide(x, y, r);

        while (scale < 0) {
            const int k = std::min(-scale, 9);
            const U128 p = kPow10[static_cast<std::size_t>(k)];
            U128 nextR = 0;
            const U128 q = divide(r * p, y, nextR);
            c = c * p + q;
            r = nextR;
            scale += k;
            if (c >= kCoefficientLimit)
                overflow(a, " / ", b);
        }

        bool appended = false;
        while (r != 0 && scale < kMaxScale) {
            const int room = kMaxScale - scale;
            const int chunk = fitsIn64(c) && fitsIn64(y) ? 19 : 9;
            const int fit = (96 - bitLength(c)) * 30102 / 100000;
            const int k = std::min({room, chunk, std::max(fit, 1)});
            const U128 p = kPow10[static_cast<std::size_t>(k)];
            U128 nextR = 0;
            const U128 q = divide(r * p, y, nextR);
            const U128 next = c * p + q;
            r = nextR;
            scale += k;
            if (next >= kCoefficientLimit) {
                // The extra digits of this chunk become the rounding digits.
                Pending pending{next, scale, 0, r != 0};
                return settled(pending, negative, a, " / ", b);
            }
            c = next;
            appended = true;
        }

        if (r == 0) {
            if (appended)
                stripTrailingZeros(c, scale);
            return make(c, scale, negative);
        }

        // Scale 28 reached with a remainder: it decides the rounding.
        const U128 twice = r * 2;
        Pending pending{c, scale, twice >= y ? 5u : 0u, twice != y};
        return settled(pending, negative, a, " / ", b);
    }

    static int compareMagnitudes(const Decimal& a, const Decimal& b) noexcept
    {
        U128 x = coefficient(a);
        U128 y = coefficient(b);
        if (a.scale_ < b.scale_) {
            if (__builtin_mul_overflow(x, kPow10[static_cast<std::size_t>(b.scale_ - a.scale_)], &x))
                return 1;
        } else if (b.scale_ < a.scale_) {
            if (__builtin_mul_overflow(y, kPow10[static_cast<std::size_t>(a.scale_ - b.scale_)], &y))
                return -1;
        }
        return x < y ? -1 : (x > y ? 1 : 0);
    }

    static ParseStatus parse(std::string_view text, Decimal& out) noexcept
    {
        std::size_t i = 0;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        // Up to 38 significant digits are kept exactly; later ones only
        // matter for rounding (a fractional digit) or overflow (an integer
        // digit, since 38 digits are far beyond 2^96 already).
        U128 acc = 0;
        int kept = 0;
        int scale = 0;
        bool anyDigit = false;
        bool seenPoint = false;
        bool tooLarge = false;
        Pending pending;
        bool cut = false;
        for (; i < text.size(); ++i) {
            const char ch = text[i];
            if (ch == '.') {
                if (seenPoint)
                    return ParseStatus::NotANumber;
                seenPoint = true;
                continue;
            }
            if (ch < '0' || ch > '9')
                return ParseStatus::NotANumber;
            anyDigit = true;
            const auto digit = static_cast<unsigned>(ch - '0');
            if (kept < 38) {
                acc = acc * 10 + digit;
                if (acc != 0)
                    ++kept;
                if (seenPoint)
                    ++scale;
            } else if (!seenPoint) {
                tooLarge = true;
            } else if (!cut) {
                cut = true;
                pending.digit = digit;
            } else if (digit != 0) {
                pending.sticky = true;
            }
        }
        if (!anyDigit)
            return ParseStatus::NotANumber;
        if (tooLarge)
            return ParseStatus::Overflow;
        if (!cut && acc < kCoefficientLimit && scale <= kMaxScale) {
            out = make(acc, scale, negative);
            return ParseStatus::Ok;
        }
        pending.t = acc;
        pending.scale = scale;
        // With digits cut, 38 were kept, so settling always drops at least
        // one digit and the cut ones are folded in below it.
        if (!settle(pending))
            return ParseStatus::Overflow;
        out = make(pending.t, pending.scale, negative);
        return ParseStatus::Ok;
    }

    // Writes the text form into buf (at least 48 bytes); returns its length.
    static std::size_t write(const Decimal& d, char* buf) noexcept
    {
        U128 c = coefficient(d);
        if (c == 0) {
            buf[0] = '0';
            return 1;
        }
        // Digits right to left into the end of a scratch area.
        char digits[40];
        char* end = digits + sizeof digits;
        char* p = end;
        while (!fitsIn64(c)) {
            constexpr std::uint64_t kChunk = 10000000000000000000ull;
            U128 low = 0;
            c = divide(c, kChunk, low);
            auto part = static_cast<std::uint64_t>(low);
            for (int n = 0; n < 19; ++n) {
                *--p = static_cast<char>('0' + part % 10);
                part /= 10;
            }
        }
        for (auto v = static_cast<std::uint64_t>(c); v != 0; v /= 10)
            *--p = static_cast<char>('0' + v % 10);

        int scale = d.scale_;
        while (scale > 0 && end[-1] == '0') {
            --end;
            --scale;
        }
        const auto count = static_cast<int>(end - p);
        std::size_t n = 0;
        if (d.negative_)
            buf[n++] = '-';
        if (count <= scale) {
            buf[n++] = '0';
            buf[n++] = '.';
            for (int z = count; z < scale; ++z)
                buf[n++] = '0';
            std::memcpy(buf + n, p, static_cast<std::size_t>(count));
            return n + static_cast<std::size_t>(count);
        }
        const int integerDigits = count - scale;
        std::memcpy(buf + n, p, static_cast<std::size_t>(integerDigits));
        n += static_cast<std::size_t>(integerDigits);
        if (scale > 0) {
            buf[n++] = '.';
            std::memcpy(buf + n, p + integerDigits, static_cast<std::size_t>(scale));
            n += static_cast<std::size_t>(scale);
        }
        return n;
    }
};

Decimal::Decimal(std::int64_t value)
{
    const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                              : static_cast<std::uint64_t>(value);
    lo_ = static_cast<std::uint32_t>(magnitude);
    mid_ = static_cast<std::uint32_t>(magnitude >> 32);
    negative_ = value < 0;
}

Decimal Decimal::scaled(std::int64_t coefficient, int scale)
{
    if (scale < 0 || scale > kMaxScale)
        throw RuntimeError("decimal scale out of range: " + std::to_string(scale));
    const auto magnitude = coefficient < 0 ? U128(0) - U128(coefficient) : U128(coefficient);
    return DecimalAccess::make(magnitude, scale, coefficient < 0);
}

Decimal Decimal::fromDouble(double value)
{
    if (!std::isfinite(value))
        throw RuntimeError("not a finite number: " + std::to_string(value));
    if (value == 0)
        return Decimal();

    // The 15 significant digits printf("%.15g") would show, as an integer
    // and a power of ten.
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    std::uint64_t mantissa = 0;
    const char* p = buf;
    for (; p != res.ptr && *p != 'e'; ++p) {
        if (*p != '.')
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exponent);
    int scale = 14 - exponent;
    while (mantissa % 10 == 0 && mantissa != 0) {
        mantissa /= 10;
        --scale;
    }

    const bool negative = value < 0;
    if (scale < 0) {
        U128 c = 0;
        if (-scale > kMaxScale || __builtin_mul_overflow(U128(mantissa), kPow10[static_cast<std::size_t>(-scale)], &c)
            || c >= kCoefficientLimit)
            throw RuntimeError("decimal overflow: " + std::string(negative ? "-" : "") + std::string(buf, res.ptr));
        return DecimalAccess::make(c, 0, negative);
    }
    if (scale <= kMaxScale)
        return DecimalAccess::make(mantissa, scale, negative);
    // Below 10^-44 even 15 digits round to zero at scale 28.
    if (scale > kMaxScale + 16)
        return Decimal();
    Pending pending{mantissa, scale, 0, false};
    settle(pending);
    return DecimalAccess::make(pending.t, pending.scale, negative);
}

Decimal Decimal::parse(std::string_view text)
{
    Decimal d;
    switch (DecimalAccess::parse(text, d)) {
    case ParseStatus::Ok:
        return d;
    case ParseStatus::Overflow:
        throw RuntimeError("decimal overflow: \"" + std::string(text) + "\"");
    case ParseStatus::NotANumber:
        break;
    }
    throw RuntimeError("not a decimal number: \"" + std::string(text) + "\"");
}

bool Decimal::tryParse(std::string_view text, Decimal& out) noexcept
{
    return parseInto(text, out) == ParseStatus::Ok;
}

Decimal::ParseStatus Decimal::parseInto(std::string_view text, Decimal& out) noexcept
{
    Decimal d;
    const ParseStatus status = DecimalAccess::parse(text, d);
    if (status == ParseStatus::Ok)
        out = d;
    return status;
}

std::string Decimal::toString() const
{
    char buf[48];
    return std::string(buf, DecimalAccess::write(*this, buf));
}

double Decimal::toDouble() const noexcept
{
    const U128 c = DecimalAccess::coefficient(*this);
    double magnitude = 0;
    // Both exact as doubles, so the one division rounds correctly.
    if (c < (U128(1) << 53) && scale_ <= 22) {
        static constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        magnitude = static_cast<double>(static_cast<std::uint64_t>(c)) / kExactPow10[scale_];
    } else {
        char buf[48];
        Decimal abs = *this;
        abs.negative_ = false;
        const std::size_t n = DecimalAccess::write(abs, buf);
        std::from_chars(buf, buf + n, magnitude);
    }
    return negative_ ? -magnitude : magnitude;
}

Decimal Decimal::roundHalfEven() const
{
    if (scale_ == 0)
        return *this;
    Pending pending{DecimalAccess::coefficient(*this), scale_, 0, false};
    dropDigits(pending, scale_);
    // The rounded magnitude is below 2^96 / 10 + 1: it always fits.
    if (pending.digit > 5 || (pending.digit == 5 && (pending.sticky || (pending.t & 1) != 0)))
        ++pending.t;
    return DecimalAccess::make(pending.t, 0, negative_);
}

Decimal operator+(const Decimal& a, const Decimal& b)
{
    return DecimalAccess::addSigned(a, b, false, " + ");
}

Decimal operator-(const Decimal& a, const Decimal& b)
{
    return DecimalAccess::addSigned(a, b, true, " - ");
}

Decimal operator*(const Decimal& a, const Decimal& b)
{
    return DecimalAccess::multiply(a, b);
}

Decimal operator/(const Decimal& a, const Decimal& b)
{
    return DecimalAccess::divideBy(a, b);
}

Decimal Decimal::operator-() const noexcept
{
    Decimal d = *this;
    d.negative_ = !negative_ && !isZero();
    return d;
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept
{
    // Zero is never stored negative, so signs alone order mixed pairs.
    const bool negA = DecimalAccess::negative(a);
    const bool negB = DecimalAccess::negative(b);
    if (negA != negB)
        return negA ? std::strong_ordering::less : std::strong_ordering::greater;
    int m = DecimalAccess::compareMagnitudes(a, b);
    if (negA)
        m = -m;
    return m < 0 ? std::strong_ordering::less : (m > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
}

bool operator==(const Decimal& a, const Decimal& b) noexcept
{
    return (a <=> b) == 0;
}

} // namespace zelvar
