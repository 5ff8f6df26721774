#include "platform/NumberText.h"
#include "platform/RuntimeError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace zelvar {
namespace {

const QLocale& german()
{
    static const QLocale locale(QLocale::German, QLocale::Germany);
    return locale;
}

TEST(FormatDouble15, ShowsPlainDecimalTextWithFifteenSignificantDigits)
{
    const struct {
        double value;
        std::string expected;
    } cases[] = {
        {500 / 100.0, "5"},
        {1230 / 100.0, "12.3"},
        {1110015 / 100.0, "11100.15"},
        {40.96, "40.96"},
        {3.141592654, "3.141592654"},
        {0.1 + 0.2, "0.3"},
        {1e-20, "0.00000000000000000001"},
        {1e20, "100000000000000000000"},
        {-12.3, "-12.3"},
        {0.0, "0"},
        {-0.0, "0"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {-2.0 / 3.0, "-0.666666666666667"},
        {0.000123, "0.000123"},
        {123456789012345678.0, "123456789012346000"},
        {999999999999999.9, "1000000000000000"},
        {1234567890123425.0, "1234567890123420"}, // an exact tie goes to even, as printf does
        {5e-324, "0." + std::string(323, '0') + "494065645841247"},
        {std::numeric_limits<double>::max(), "179769313486232" + std::string(294, '0')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatDouble15(c.value), c.expected) << "formatDouble15(" << c.value << ")";
}

TEST(FormatDouble15, AgreesWithPrintfOnTheValueItShows)
{
    // Random bit patterns and random magnitudes: the text must denote the
    // same decimal that "%.15g" denotes, in plain form without trailing zeros.
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    for (int i = 0; i < 20000; ++i) {
        double value = 0;
        if (i % 2 == 0) {
            const std::uint64_t bits = random();
            std::memcpy(&value, &bits, sizeof value);
            if (!std::isfinite(value))
                continue;
        } else {
            value = unit(random) * std::pow(10.0, exponent(random));
        }
        const std::string text = formatDouble15(value);
        char reference[64];
        std::snprintf(reference, sizeof reference, "%.15g", value);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), std::strtod(reference, nullptr))
            << "value " << reference << " shown as " << text;
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        if (text.find('.') != std::string::npos) {
            EXPECT_NE(text.back(), '0') << text;
        }
    }
}

TEST(FileText, IsThePlainTextWithAPoint)
{
    EXPECT_EQ(fileText(1230 / 100.0), QStringLiteral("12.3"));
    EXPECT_EQ(fileText(1e-20), QStringLiteral("0.00000000000000000001"));
    EXPECT_EQ(fileText(Decimal::parse("-0.0500")), QStringLiteral("-0.05"));
    EXPECT_EQ(fileText(Decimal::parse("0.000")), QStringLiteral("0"));
}

TEST(BoxText, UsesTheLocaleDecimalSeparatorWithoutGrouping)
{
    const struct {
        double value;
        const char* c;
        const char* de;
    } cases[] = {
        {12.3, "12.3", "12,3"}, {1234567.5, "1234567.5", "1234567,5"},
        {-0.5, "-0.5", "-0,5"}, {1e20, "100000000000000000000", "100000000000000000000"},
        {5.0, "5", "5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(boxText(c.value, QLocale::c()), QLatin1String(c.c)) << c.c;
        EXPECT_EQ(boxText(c.value, german()), QLatin1String(c.de)) << c.de;
    }
    EXPECT_EQ(boxText(Decimal::parse("30.50"), german()), QStringLiteral("30,5"));
    EXPECT_EQ(boxText(Decimal::parse("1234.5"), QLocale::c()), QStringLiteral("1234.5"));
}

TEST(ReadBox, AcceptsTheLocaleSeparatorThePointAndBlanksAround)
{
    const struct {
        const char* text;
        QLocale locale;
        const char* expected;
    } cases[] = {
        {"30,5", german(), "30.5"},
        {"30.5", german(), "30.5"},
        {" 20 ", german(), "20"},
        {"\t-1,25\t ", german(), "-1.25"},
        {"+7", german(), "7"},
        {",5", german(), "0.5"},
        {"30.5", QLocale::c(), "30.5"},
        {"  0.000  ", QLocale::c(), "0"},
        {"0.1234567890123456789", QLocale::c(), "0.1234567890123456789"},
    };
    for (const auto& c : cases) {
        const Decimal value = readBox(QString::fromUtf8(c.text), c.locale);
        EXPECT_EQ(value.toString(), c.expected)
            << "readBox(\"" << c.text << "\") under " << c.locale.name().toStdString();
    }
}

TEST(ReadBox, RejectsTextThatIsNotANumberNamingIt)
{
    const struct {
        const char* text;
        QLocale locale;
    } cases[] = {
        {"", QLocale::c()},     {" ", QLocale::c()},        {"\t", german()},      {"abc", QLocale::c()},
        {"30,5", QLocale::c()}, {"1,234.5", QLocale::c()},  {"1.234,5", german()}, {"1,2,3", german()},
        {"1e3", QLocale::c()},  {"12 3", QLocale::c()},     {"--1", german()},     {"-", german()},
        {"1\n", QLocale::c()},  {"\xc2\xbd", QLocale::c()}, // the single character one half
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        try {
            readBox(text, c.locale);
            ADD_FAILURE() << "readBox(\"" << c.text << "\") did not throw";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(std::string(e.what()), "not a number: \"" + printable(text.toStdString()) + "\"");
        }
    }
}

TEST(ReadBox, RejectsNumbersBeyondTheDecimalRangeNamingThem)
{
    const QString text = QStringLiteral(" 100000000000000000000000000000 ");
    try {
        readBox(text, QLocale::c());
        FAIL() << "did not throw";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(std::string(e.what()), "number out of range: \" 100000000000000000000000000000 \"");
    }
}

TEST(ReadBox, ReadsBackWhatABoxShows)
{
    for (const char* text : {"0", "-12.5", "0.0000000000000000000000000001", "79228162514264337593543950335"}) {
        const Decimal value = Decimal::parse(text);
        for (const QLocale& locale : {QLocale::c(), german()}) {
            EXPECT_EQ(readBox(boxText(value, locale), locale), value)
                << text << " under " << locale.name().toStdString();
        }
    }
}

} // namespace
} // namespace zelvar
