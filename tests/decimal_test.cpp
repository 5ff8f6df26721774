#include "platform/Decimal.h"
#include "platform/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace zelvar {
namespace {

Decimal dec(const char* text)
{
    return Decimal::parse(text);
}

// What an operation gives as reference text: the value, "overflow" or
// "divzero".
std::string outcome(const std::string& op, const Decimal& a, const Decimal& b)
{
    try {
        if (op == "add")
            return (a + b).toString();
        if (op == "sub")
            return (a - b).toString();
        if (op == "mul")
            return (a * b).toString();
        if (op == "div")
            return (a / b).toString();
        return "unknown op";
    } catch (const RuntimeError& e) {
        const std::string what = e.what();
        if (what.find("overflow") != std::string::npos)
            return "overflow";
        if (what.find("division by zero") != std::string::npos)
            return "divzero";
        return "error: " + what;
    }
}

std::string negated(const std::string& result)
{
    if (result == "0" || result == "overflow" || result == "divzero")
        return result;
    return result[0] == '-' ? result.substr(1) : "-" + result;
}

TEST(DecimalReference, EveryReferenceRowGivesItsResult)
{
    std::ifstream in(ZELVAR_TEST_DATA_DIR "/decimal_ops.csv");
    ASSERT_TRUE(in) << "cannot open " << ZELVAR_TEST_DATA_DIR "/decimal_ops.csv";
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "op,a,b,result");

    int rows = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::istringstream fields(line);
        std::string op, a, b, expected;
        std::getline(fields, op, ',');
        std::getline(fields, a, ',');
        std::getline(fields, b, ',');
        std::getline(fields, expected, ',');
        ++rows;
        SCOPED_TRACE("row " + std::to_string(rows) + ": " + op + "(" + a + ", " + b + ")");

        const Decimal x = Decimal::parse(a);
        const Decimal y = Decimal::parse(b);
        EXPECT_EQ(outcome(op, x, y), expected) << op << " a=" << a << " b=" << b;

        // The same row read backwards exercises the other operand order.
        if (op == "add" || op == "mul") {
            EXPECT_EQ(outcome(op, y, x), expected) << op << " swapped: a=" << b << " b=" << a;
        } else if (op == "sub") {
            EXPECT_EQ(outcome(op, y, x), negated(expected)) << "sub swapped: a=" << b << " b=" << a;
        }
    }
    EXPECT_EQ(rows, 422) << "the reference file was not read completely";
}

TEST(DecimalComparison, EqualValuesCompareEqualWhateverTheirScale)
{
    EXPECT_EQ(dec("1.0"), Decimal(1));
    EXPECT_EQ(dec("1.0000000000000000000000000000"), dec("1"));
    EXPECT_EQ(dec("-0"), Decimal(0));
    EXPECT_EQ(dec("0.000"), dec("-0.0"));
    EXPECT_EQ(dec("-2.50"), dec("-2.5"));
    EXPECT_NE(dec("0.1"), dec("0.01"));
    EXPECT_NE(dec("1"), dec("-1"));
}

TEST(DecimalComparison, OrderFollowsTheNumberLine)
{
    // Ascending; every pair is checked both ways.
    const std::vector<const char*> ascending = {
        "-79228162514264337593543950335",
        "-10",
        "-2.5",
        "-2.4999999999999999999999999999",
        "-0.0000000000000000000000000001",
        "0",
        "0.0000000000000000000000000001",
        "0.1",
        "1",
        "1.0000000000000000000000000001",
        "7.9228162514264337593543950335",
        "10",
        "79228162514264337593543950334",
        "79228162514264337593543950335",
    };
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        for (std::size_t j = 0; j < ascending.size(); ++j) {
            const auto actual = dec(ascending[i]) <=> dec(ascending[j]);
            const auto expected = i <=> j;
            EXPECT_TRUE(actual == expected) << ascending[i] << " <=> " << ascending[j];
        }
    }
}

TEST(DecimalFromDouble, KeepsTheFifteenDigitsTheDoubleShows)
{
    const struct {
        double value;
        const char* expected;
    } cases[] = {
        {3.141592654, "3.141592654"},
        {0.1 + 0.2, "0.3"},
        {0.1, "0.1"},
        {2.0 / 3.0, "0.666666666666667"},
        {-12.5, "-12.5"},
        {1e-20, "0.00000000000000000001"},
        {1e20, "100000000000000000000"},
        {123456789012345678.0, "123456789012346000"},
        {7.92281625142643e28, "79228162514264300000000000000"},
        {1e-28, "0.0000000000000000000000000001"},
        // Beyond scale 28 the 15 digits round half to even on the 1e-28 grid.
        {1.5e-28, "0.0000000000000000000000000002"},
        {2.5e-28, "0.0000000000000000000000000002"},
        {2.500001e-28, "0.0000000000000000000000000003"},
        {-3.5e-28, "-0.0000000000000000000000000004"},
        {5e-29, "0"},
        {6e-29, "0.0000000000000000000000000001"},
        {1e-300, "0"},
        {-0.0, "0"},
    };
    for (const auto& c : cases) {
        const Decimal d = Decimal::fromDouble(c.value);
        EXPECT_EQ(d.toString(), c.expected) << "fromDouble(" << c.value << ")";
    }
    EXPECT_FALSE(Decimal::fromDouble(-0.0).isNegative());
    EXPECT_FALSE(Decimal::fromDouble(-1e-30).isNegative());
}

TEST(DecimalFromDouble, RejectsValuesOutsideTheDecimalRange)
{
    const double cases[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        7.92281625142644e28,
        -1e29,
        1e300,
        std::numeric_limits<double>::max(),
    };
    for (const double value : cases)
        EXPECT_THROW(Decimal::fromDouble(value), RuntimeError) << "fromDouble(" << value << ")";
}

TEST(DecimalParse, AcceptsPlainDecimalText)
{
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"0", "0"},
        {"-0", "0"},
        {"+5", "5"},
        {"5.", "5"},
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"007.50", "7.5"},
        {"79228162514264337593543950335", "79228162514264337593543950335"},
        {"-79228162514264337593543950335", "-79228162514264337593543950335"},
        {"0000000000000000000000000000000000000000001", "1"},
        {"0.0000000000000000000000000001", "0.0000000000000000000000000001"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decimal::parse(c.text).toString(), c.expected) << "parse(\"" << c.text << "\")";
    EXPECT_FALSE(Decimal::parse("-0").isNegative());
    EXPECT_EQ(Decimal::parse("1.500").scale(), 3);
}

TEST(DecimalParse, RoundsDigitsBeyondWhatFitsHalfToEven)
{
    const struct {
        std::string text;
        const char* expected;
    } cases[] = {
        {"0.00000000000000000000000000005", "0"},
        {"0.00000000000000000000000000015", "0.0000000000000000000000000002"},
        {"0.00000000000000000000000000025", "0.0000000000000000000000000002"},
        // A non-zero digit far behind the tie breaks it.
        {"0.000000000000000000000000000250000000000000000000000000001", "0.0000000000000000000000000003"},
        {"-0.000000000000000000000000000249999999999999999999999999999", "-0.0000000000000000000000000002"},
        {"1.00000000000000000000000000005", "1"},
        {"3.33333333333333333333333333333333333333333333333333", "3.3333333333333333333333333333"},
        // 2^96 at scale 28 does not fit; scale 27 does.
        {"7.9228162514264337593543950336", "7.922816251426433759354395034"},
        {"79228162514264337593543950334.5", "79228162514264337593543950334"},
        {"79228162514264337593543950335.4999999999", "79228162514264337593543950335"},
        {"0." + std::string(200, '0') + "1", "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decimal::parse(c.text).toString(), c.expected) << "parse(\"" << c.text << "\")";
}

TEST(DecimalParse, RejectsMalformedOrTooLargeTextNamingIt)
{
    const char* cases[] = {
        "",
        " ",
        " 1",
        "1 ",
        "1e5",
        "1E5",
        "1.2.3",
        "-",
        "+",
        ".",
        "-.",
        "--1",
        "+-1",
        "1,5",
        "abc",
        "0x10",
        "1_000",
        "inf",
        "nan",
        "79228162514264337593543950336",
        "79228162514264337593543950335.5",
        "-100000000000000000000000000000",
        "123456789012345678901234567890123456789012345",
    };
    for (const char* text : cases) {
        try {
            Decimal::parse(text);
            ADD_FAILURE() << "parse(\"" << text << "\") did not throw";
        } catch (const RuntimeError& e) {
            const std::string quoted = "\"" + std::string(text) + "\"";
            EXPECT_NE(std::string(e.what()).find(quoted), std::string::npos)
                << "message for " << quoted << " was: " << e.what();
        }
        Decimal untouched = Decimal(42);
        EXPECT_FALSE(Decimal::tryParse(text, untouched)) << "tryParse(\"" << text << "\")";
        EXPECT_EQ(untouched, Decimal(42)) << "tryParse(\"" << text << "\") changed its output";
    }
}

TEST(DecimalText, HasNoTrailingZerosAndALeadingZeroBelowOne)
{
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"1.2300", "1.23"},
        {"100", "100"},
        {"100.00", "100"},
        {"-0.0500", "-0.05"},
        {"0.0000000000000000000000000010", "0.000000000000000000000000001"},
        {"0.0000000000000000000000000000", "0"},
        {"-7.9228162514264337593543950335", "-7.9228162514264337593543950335"},
        {"18446744073709551616", "18446744073709551616"},
        {"1844674407370955161.6", "1844674407370955161.6"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dec(c.text).toString(), c.expected) << "toString of " << c.text;
    EXPECT_EQ(Decimal(std::numeric_limits<std::int64_t>::min()).toString(), "-9223372036854775808");
    EXPECT_EQ(Decimal(std::numeric_limits<std::int64_t>::max()).toString(), "9223372036854775807");
    EXPECT_EQ((-Decimal(0)).toString(), "0");
    EXPECT_EQ((Decimal(-3) * Decimal(0)).toString(), "0");
}

TEST(DecimalRounding, RoundHalfEvenGoesToTheNearestEvenIntegerOnTies)
{
    const struct {
        const char* value;
        const char* expected;
    } cases[] = {
        {"0.5", "0"},
        {"1.5", "2"},
        {"2.5", "2"},
        {"-2.5", "-2"},
        {"-3.5", "-4"},
        {"2.5000000000000000000000000001", "3"},
        {"2.4999999999999999999999999999", "2"},
        {"-0.4", "0"},
        {"7", "7"},
        {"7.000", "7"},
        {"7922816251426433759354395033.5", "7922816251426433759354395034"},
        {"79228162514264337593543950335", "79228162514264337593543950335"},
    };
    for (const auto& c : cases) {
        const Decimal rounded = dec(c.value).roundHalfEven();
        EXPECT_EQ(rounded.toString(), c.expected) << "roundHalfEven(" << c.value << ")";
        EXPECT_EQ(rounded.scale(), 0) << "roundHalfEven(" << c.value << ")";
    }
    EXPECT_FALSE(dec("-0.4").roundHalfEven().isNegative());
}

TEST(DecimalToDouble, GivesTheNearestDouble)
{
    const struct {
        const char* value;
        double expected;
    } cases[] = {
        {"0.1", 0.1},
        {"-12.5", -12.5},
        {"3.141592654", 3.141592654},
        {"0.0000000000000000000000000001", 1e-28},
        {"79228162514264337593543950335", 79228162514264337593543950335.0},
        {"0.3333333333333333333333333333", 1.0 / 3.0},
        {"-9007199254740993", -9007199254740992.0},
        {"0", 0.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dec(c.value).toDouble(), c.expected) << "toDouble(" << c.value << ")";
}

TEST(DecimalArithmetic, DivisionByZeroIsARuntimeErrorNamingTheOperands)
{
    try {
        (void)(dec("3.5") / dec("0.00"));
        FAIL() << "3.5 / 0.00 did not throw";
    } catch (const RuntimeError& e) {
        EXPECT_STREQ(e.what(), "division by zero: 3.5 / 0");
    }
}

TEST(DecimalArithmetic, OverflowIsARuntimeErrorNamingTheOperands)
{
    try {
        (void)(dec("79228162514264337593543950335") * Decimal(2));
        FAIL() << "max * 2 did not throw";
    } catch (const RuntimeError& e) {
        EXPECT_STREQ(e.what(), "decimal overflow: 79228162514264337593543950335 * 2");
    }
}

TEST(DecimalArithmetic, CompoundAssignmentMatchesTheOperators)
{
    Decimal d = dec("10");
    d += dec("0.5");
    d -= Decimal(3);
    d *= dec("4");
    d /= dec("3");
    EXPECT_EQ(d.toString(), "10");
    EXPECT_EQ((-dec("1.25")).toString(), "-1.25");
    EXPECT_EQ((-(-dec("1.25"))).toString(), "1.25");
}

TEST(DecimalArithmetic, ExactDivisionHasNoSpuriousDigits)
{
    // An exact quotient must not carry rounding noise or padding into the
    // next operation's scale.
    const Decimal q = dec("50") / dec("1000");
    EXPECT_EQ(q.toString(), "0.05");
    EXPECT_LE(q.scale(), 2);
    EXPECT_EQ((dec("1") / dec("1024")).toString(), "0.0009765625");
}

} // namespace
} // namespace zelvar
