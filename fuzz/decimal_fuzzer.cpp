// Decimal against a slow, obviously right model: every value is an exact
// integer held as a string of decimal digits with a scale, and the model
// rounds the exact result half to even to the largest scale <= 28 at which
// the coefficient stays below 2^96, or calls it an overflow. The input picks
// one of four exercises:
//   text    parse / tryParse of arbitrary text, toString, toDouble,
//           roundHalfEven and the identities around one value;
//   pair    + - * / and comparison of two values against the model, plus
//           commutativity, a + b - b == a and a * b / b == a where exact, and
//           the sign of a - b agreeing with the comparison;
//   double  fromDouble against the 15 digits printf shows;
//   integer the int64 constructor and scaled().
// Overflow and division by zero must come as RuntimeError, nothing else.

#include "FuzzSupport.h"

#include "platform/Decimal.h"
#include "platform/RuntimeError.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace zelvar;

namespace {

// --- The model: non-negative integers as decimal digit strings ---------------

using Digits = std::string; // most significant first, no leading zeros, "0" for zero

const Digits kLimit = "79228162514264337593543950336"; // 2^96
constexpr int kMaxScale = 28;

Digits normalized(std::string s)
{
    const auto first = s.find_first_not_of('0');
    return first == std::string::npos ? Digits("0") : s.substr(first);
}

int compare(const Digits& a, const Digits& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

Digits add(const Digits& a, const Digits& b)
{
    std::string out;
    int carry = 0;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()) || carry != 0; ++i) {
        int sum = carry;
        if (i < a.size())
            sum += a[a.size() - 1 - i] - '0';
        if (i < b.size())
            sum += b[b.size() - 1 - i] - '0';
        out += static_cast<char>('0' + sum % 10);
        carry = sum / 10;
    }
    std::reverse(out.begin(), out.end());
    return normalized(out);
}

// a >= b.
Digits subtract(const Digits& a, const Digits& b)
{
    std::string out;
    int borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        int d = (a[a.size() - 1 - i] - '0') - borrow;
        if (i < b.size())
            d -= b[b.size() - 1 - i] - '0';
        borrow = d < 0 ? 1 : 0;
        out += static_cast<char>('0' + d + 10 * borrow);
    }
    std::reverse(out.begin(), out.end());
    return normalized(out);
}

Digits multiply(const Digits& a, const Digits& b)
{
    std::vector<int> acc(a.size() + b.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (std::size_t j = 0; j < b.size(); ++j)
            acc[i + j + 1] += (a[i] - '0') * (b[j] - '0');
    }
    for (std::size_t k = acc.size() - 1; k > 0; --k) {
        acc[k - 1] += acc[k] / 10;
        acc[k] %= 10;
    }
    std::string out;
    for (int d : acc)
        out += static_cast<char>('0' + d);
    return normalized(out);
}

// a * 10^k.
Digits shifted(const Digits& a, int k)
{
    return a == "0" ? a : a + std::string(static_cast<std::size_t>(k), '0');
}

// Schoolbook long division, one decimal digit at a time; b != 0.
void divide(const Digits& a, const Digits& b, Digits& quotient, Digits& remainder)
{
    std::string q;
    Digits r = "0";
    for (const char digit : a) {
        r = normalized(r + digit);
        char qd = '0';
        while (compare(r, b) >= 0) {
            r = subtract(r, b);
            ++qd;
        }
        q += qd;
    }
    quotient = normalized(q);
    remainder = r;
}

bool isOdd(const Digits& d)
{
    return ((d.back() - '0') & 1) != 0;
}

// a / 10^k rounded half to even.
Digits roundDrop(const Digits& a, int k)
{
    if (k == 0)
        return a;
    std::string padded = a;
    if (padded.size() < static_cast<std::size_t>(k) + 1)
        padded.insert(0, static_cast<std::size_t>(k) + 1 - padded.size(), '0');
    const std::size_t keep = padded.size() - static_cast<std::size_t>(k);
    Digits q = normalized(padded.substr(0, keep));
    const char first = padded[keep];
    const bool rest = padded.find_first_not_of('0', keep + 1) != std::string::npos;
    if (first > '5' || (first == '5' && (rest || isOdd(q))))
        q = add(q, "1");
    return q;
}

struct Value {
    Digits coefficient = "0";
    int scale = 0;
    bool negative = false;
};

std::string canonical(const Value& v)
{
    if (v.coefficient == "0")
        return "0";
    std::string padded = v.coefficient;
    const auto scale = static_cast<std::size_t>(v.scale);
    if (padded.size() < scale + 1)
        padded.insert(0, scale + 1 - padded.size(), '0');
    const std::string integer = padded.substr(0, padded.size() - scale);
    std::string fraction = padded.substr(padded.size() - scale);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return (v.negative ? "-" : "") + integer + (fraction.empty() ? "" : "." + fraction);
}

// What an operation must give: a value's text, "overflow" or "divzero".
using Outcome = std::string;

// The exact value rounded half to even to the largest scale <= 28 at which it
// fits, as the arithmetic promises.
Outcome fitted(const Value& exact)
{
    for (int s = std::min(exact.scale, kMaxScale); s >= 0; --s) {
        const Digits c = roundDrop(exact.coefficient, exact.scale - s);
        if (compare(c, kLimit) < 0)
            return canonical({c, s, exact.negative});
    }
    return "overflow";
}

Value negated(Value v)
{
    v.negative = !v.negative;
    return v;
}

Value modelSum(const Value& a, const Value& b)
{
    const int scale = std::max(a.scale, b.scale);
    const Digits x = shifted(a.coefficient, scale - a.scale);
    const Digits y = shifted(b.coefficient, scale - b.scale);
    if (a.negative == b.negative)
        return {add(x, y), scale, a.negative};
    if (compare(x, y) >= 0)
        return {subtract(x, y), scale, a.negative};
    return {subtract(y, x), scale, b.negative};
}

Value modelProduct(const Value& a, const Value& b)
{
    return {multiply(a.coefficient, b.coefficient), a.scale + b.scale, a.negative != b.negative};
}

Outcome modelQuotient(const Value& a, const Value& b)
{
    if (b.coefficient == "0")
        return "divzero";
    // At target scale s the coefficient is a.c * 10^(b.s - a.s + s) / b.c.
    const auto quotientAt = [&](int s, Digits& q, Digits& r, Digits& den) {
        const int e = b.scale - a.scale + s;
        const Digits num = shifted(a.coefficient, std::max(e, 0));
        den = shifted(b.coefficient, std::max(-e, 0));
        divide(num, den, q, r);
    };
    Digits q;
    Digits r;
    Digits den;
    quotientAt(kMaxScale, q, r, den);
    // Above the scale where the quotient has 30 digits nothing can fit; start
    // there rather than dividing 28 times.
    int s = kMaxScale - std::max(0, static_cast<int>(q.size()) - 30);
    for (; s >= 0; --s) {
        quotientAt(s, q, r, den);
        const int half = compare(multiply(r, "2"), den);
        if (half > 0 || (half == 0 && isOdd(q)))
            q = add(q, "1");
        if (compare(q, kLimit) < 0)
            return canonical({q, s, a.negative != b.negative});
    }
    return "overflow";
}

int modelCompare(const Value& a, const Value& b)
{
    const bool negA = a.negative && a.coefficient != "0";
    const bool negB = b.negative && b.coefficient != "0";
    if (negA != negB)
        return negA ? -1 : 1;
    const int scale = std::max(a.scale, b.scale);
    const int m = compare(shifted(a.coefficient, scale - a.scale), shifted(b.coefficient, scale - b.scale));
    return negA ? -m : m;
}

// --- The code under test --------------------------------------------------------

// The text form a Decimal promises: optional "-", no leading zeros but one
// before the point, no trailing zeros after it, never "-0".
bool isCanonicalText(const std::string& t)
{
    if (t.empty())
        return false;
    std::size_t i = t[0] == '-' ? 1 : 0;
    const std::size_t intStart = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        ++i;
    const std::size_t intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && t[intStart] == '0'))
        return false;
    if (i < t.size()) {
        if (t[i] != '.' || i + 1 == t.size() || t.back() == '0')
            return false;
        for (++i; i < t.size(); ++i) {
            if (t[i] < '0' || t[i] > '9')
                return false;
        }
    }
    return t != "-0";
}

Outcome outcomeOf(const std::function<Decimal()>& op)
{
    try {
        const Decimal d = op();
        const std::string text = d.toString();
        ZELVAR_FUZZ_CHECK(isCanonicalText(text), "not canonical: \"" + text + "\"");
        ZELVAR_FUZZ_CHECK(d.isNegative() == (text[0] == '-'), "isNegative() disagrees with \"" + text + "\"");
        ZELVAR_FUZZ_CHECK(d.isZero() == (text == "0"), "isZero() disagrees with \"" + text + "\"");
        ZELVAR_FUZZ_CHECK(d.scale() >= 0 && d.scale() <= kMaxScale, "scale " + std::to_string(d.scale()));
        return text;
    } catch (const RuntimeError& e) {
        // By the start of the message only: a quoted operand may say anything.
        const std::string what = e.what();
        if (what.rfind("decimal overflow: ", 0) == 0)
            return "overflow";
        if (what.rfind("division by zero: ", 0) == 0)
            return "divzero";
        return "error: " + what;
    } catch (const std::exception& e) {
        fuzz::fail(__FILE__, __LINE__, "only RuntimeError is thrown", e.what());
    }
}

void expectOutcome(const std::string& what, const Outcome& got, const Outcome& want)
{
    ZELVAR_FUZZ_CHECK(got == want, what + ": got " + got + ", want " + want);
}

// A value the model and the Decimal agree on; the Decimal is built from its
// text, so a wrong parse shows here too.
Decimal decimalOf(const Value& v)
{
    const std::string text = canonical(v);
    Decimal d;
    ZELVAR_FUZZ_CHECK(Decimal::tryParse(text, d), "cannot parse \"" + text + "\"");
    ZELVAR_FUZZ_CHECK(d.toString() == text, "\"" + text + "\" reads back as " + d.toString());
    return d;
}

void checkDouble(const Decimal& d)
{
    // Correctly rounded, like reading the text form.
    const std::string text = d.toString();
    double want = 0;
    std::from_chars(text.data(), text.data() + text.size(), want);
    const double got = d.toDouble();
    ZELVAR_FUZZ_CHECK(got == want || (std::isnan(got) && std::isnan(want)),
                      text + ".toDouble() gives " + std::to_string(got));
}

// Everything about one parsed value.
void checkOne(const Decimal& x, const Value& model)
{
    const std::string text = x.toString();
    ZELVAR_FUZZ_CHECK(text == canonical(model), "value " + text + ", want " + canonical(model));
    Decimal again;
    ZELVAR_FUZZ_CHECK(Decimal::tryParse(text, again) && again == x && again.toString() == text,
                      "\"" + text + "\" does not read back as itself");
    checkDouble(x);

    expectOutcome(text + " rounded", outcomeOf([&] { return x.roundHalfEven(); }),
                  canonical({roundDrop(model.coefficient, model.scale), 0, model.negative}));
    expectOutcome("-(" + text + ")", (-x).toString(), canonical(negated(model)));
    ZELVAR_FUZZ_CHECK(-(-x) == x && (x + -x).isZero() && (x - x).isZero(), text + ": negation");
    ZELVAR_FUZZ_CHECK(x + Decimal(0) == x && x * Decimal(1) == x && x / Decimal(1) == x, text + ": neutral elements");
    ZELVAR_FUZZ_CHECK((x <=> x) == 0 && !(x < x), text + ": not equal to itself");
}

void text(std::string_view input)
{
    Decimal viaTry;
    const bool ok = Decimal::tryParse(input, viaTry);
    const Outcome got = outcomeOf([&] { return Decimal::parse(input); });
    const std::string shown = "parse(\"" + std::string(input) + "\")";

    // The grammar: sign, digits with at most one point, at least one digit.
    std::size_t i = input.empty() || (input[0] != '+' && input[0] != '-') ? 0 : 1;
    Value model;
    model.negative = i == 1 && input[0] == '-';
    std::string digits;
    bool point = false;
    bool grammatical = true;
    for (; i < input.size() && grammatical; ++i) {
        if (input[i] == '.' && !point)
            point = true;
        else if (input[i] >= '0' && input[i] <= '9') {
            digits += input[i];
            if (point)
                ++model.scale;
        } else
            grammatical = false;
    }
    grammatical = grammatical && !digits.empty();
    if (!grammatical) {
        ZELVAR_FUZZ_CHECK(!ok, shown + " accepted by tryParse");
        ZELVAR_FUZZ_CHECK(got.rfind("error: not a decimal number", 0) == 0
                              && got.find(fuzz::upToNul(input)) != std::string::npos,
                          shown + " gives " + got);
        return;
    }
    model.coefficient = normalized(digits);
    const Outcome want = fitted(model);
    expectOutcome(shown, got, want);
    ZELVAR_FUZZ_CHECK(ok == (want != "overflow"), shown + ": tryParse disagrees with parse");
    if (ok) {
        ZELVAR_FUZZ_CHECK(viaTry.toString() == want, shown + ": tryParse gives " + viaTry.toString());
        // The model of the rounded value, for the checks on it.
        Value rounded;
        rounded.negative = want[0] == '-';
        const std::string body = want.substr(rounded.negative ? 1 : 0);
        const auto dot = body.find('.');
        rounded.coefficient = normalized(dot == std::string::npos ? body : body.substr(0, dot) + body.substr(dot + 1));
        rounded.scale = dot == std::string::npos ? 0 : static_cast<int>(body.size() - dot - 1);
        checkOne(viaTry, rounded);
    }
}

Value operand(fuzz::ByteReader& in)
{
    Value v;
    const int length = in.byte() % 13; // up to 96 bits
    for (int n = 0; n < length; ++n)
        v.coefficient = add(multiply(v.coefficient, "256"), std::to_string(in.byte()));
    const std::uint8_t h = in.byte();
    v.scale = h % (kMaxScale + 1);
    v.negative = ((h / (kMaxScale + 1)) & 1) != 0;
    return v;
}

void pair(fuzz::ByteReader& in)
{
    const Value ma = operand(in);
    const Value mb = operand(in);
    const Decimal a = decimalOf(ma);
    const Decimal b = decimalOf(mb);
    const std::string sa = a.toString();
    const std::string sb = b.toString();

    const Value exactSum = modelSum(ma, mb);
    const Value exactDifference = modelSum(ma, negated(mb));
    const Value exactProduct = modelProduct(ma, mb);
    const Outcome sum = outcomeOf([&] { return a + b; });
    const Outcome difference = outcomeOf([&] { return a - b; });
    const Outcome product = outcomeOf([&] { return a * b; });
    const Outcome quotient = outcomeOf([&] { return a / b; });
    expectOutcome(sa + " + " + sb, sum, fitted(exactSum));
    expectOutcome(sa + " - " + sb, difference, fitted(exactDifference));
    expectOutcome(sa + " * " + sb, product, fitted(exactProduct));
    expectOutcome(sa + " / " + sb, quotient, modelQuotient(ma, mb));

    expectOutcome(sb + " + " + sa, outcomeOf([&] { return b + a; }), sum);
    expectOutcome(sb + " * " + sa, outcomeOf([&] { return b * a; }), product);
    Decimal compound = a;
    expectOutcome(sa + " += " + sb, outcomeOf([&] { return compound += b; }), sum);
    compound = a;
    expectOutcome(sa + " /= " + sb, outcomeOf([&] { return compound /= b; }), quotient);

    const int order = modelCompare(ma, mb);
    const std::strong_ordering got = a <=> b;
    ZELVAR_FUZZ_CHECK((got < 0 ? -1 : (got > 0 ? 1 : 0)) == order, sa + " <=> " + sb + " is wrong");
    ZELVAR_FUZZ_CHECK((a == b) == (order == 0) && (a == b) == (sa == sb), sa + " == " + sb + " is wrong");
    if (difference != "overflow") {
        const int sign = difference == "0" ? 0 : (difference[0] == '-' ? -1 : 1);
        ZELVAR_FUZZ_CHECK(sign == order, sa + " - " + sb + " = " + difference + " disagrees with the comparison");
    }

    // Where nothing was rounded the operations undo each other exactly.
    if (sum == canonical(exactSum)) {
        expectOutcome("(" + sa + " + " + sb + ") - " + sb, outcomeOf([&] { return (a + b) - b; }), sa);
    }
    if (product == canonical(exactProduct) && !b.isZero()) {
        expectOutcome("(" + sa + " * " + sb + ") / " + sb, outcomeOf([&] { return (a * b) / b; }), sa);
    }
}

void fromDouble(fuzz::ByteReader& in)
{
    double value = 0;
    const std::string_view raw = in.bytes(sizeof value);
    std::memcpy(&value, raw.data(), raw.size());
    const Outcome got = outcomeOf([&] { return Decimal::fromDouble(value); });
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    const std::string shown = std::string("fromDouble(") + buf + ")";
    if (!std::isfinite(value)) {
        ZELVAR_FUZZ_CHECK(got.rfind("error: ", 0) == 0, shown + " gives " + got);
        return;
    }
    // "d.dddddddddddddde+x": the 15 significant digits the double shows.
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string mantissa(1, buf[0]);
    mantissa.append(buf + 2, 14);
    const int exponent = std::atoi(buf + 17);
    Value model;
    model.negative = value < 0;
    if (exponent >= 14) {
        model.coefficient = normalized(shifted(mantissa, exponent - 14));
    } else {
        model.coefficient = normalized(mantissa);
        model.scale = 14 - exponent;
    }
    expectOutcome(shown, got, fitted(model));
}

void integer(fuzz::ByteReader& in)
{
    std::int64_t value = 0;
    const std::string_view raw = in.bytes(sizeof value);
    std::memcpy(&value, raw.data(), raw.size());
    const int scale = in.byte() % 32;
    const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                              : static_cast<std::uint64_t>(value);
    const Value model{std::to_string(magnitude), 0, value < 0};
    expectOutcome("Decimal(" + std::to_string(value) + ")", outcomeOf([&] { return Decimal(value); }),
                  canonical(model));
    const Outcome got = outcomeOf([&] { return Decimal::scaled(value, scale); });
    const std::string shown = "scaled(" + std::to_string(value) + ", " + std::to_string(scale) + ")";
    if (scale > kMaxScale)
        ZELVAR_FUZZ_CHECK(got.rfind("error: ", 0) == 0, shown + " gives " + got);
    else
        expectOutcome(shown, got, canonical({model.coefficient, scale, model.negative}));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    switch (in.byte() % 4) {
    case 0:
        text(in.rest());
        break;
    case 1:
        pair(in);
        break;
    case 2:
        fromDouble(in);
        break;
    default:
        integer(in);
        break;
    }
    return 0;
}
