#include "platform/NumberText.h"

#include "platform/RuntimeError.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace zelvar {

namespace {

bool isBlank(QChar ch)
{
    return ch == QLatin1Char(' ') || ch == QLatin1Char('\t');
}

QString withDecimalPoint(QString text, const QLocale& locale)
{
    const QString point = locale.decimalPoint();
    if (point != QLatin1String("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

} // namespace

std::string formatDouble15(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    if (value == 0)
        return "0"; // -0.0 as well

    // "d.dddddddddddddde±x": the digits printf("%.15g") would choose; only
    // the place of the point differs from what we show.
    char sci[32];
    const auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, 14);
    char digits[15];
    digits[0] = sci[0];
    std::memcpy(digits + 1, sci + 2, 14);
    int count = 15;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    const char* e = sci + 16;
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), res.ptr, exponent);

    // Longest case: "-0." + 323 zeros + 15 digits.
    char out[352];
    std::size_t n = 0;
    if (value < 0)
        out[n++] = '-';
    if (exponent < 0) {
        out[n++] = '0';
        out[n++] = '.';
        const auto zeros = static_cast<std::size_t>(-exponent - 1);
        std::memset(out + n, '0', zeros);
        n += zeros;
        std::memcpy(out + n, digits, static_cast<std::size_t>(count));
        n += static_cast<std::size_t>(count);
    } else {
        const int integerDigits = exponent + 1;
        const int copied = count < integerDigits ? count : integerDigits;
        std::memcpy(out + n, digits, static_cast<std::size_t>(copied));
        n += static_cast<std::size_t>(copied);
        if (count < integerDigits) {
            const auto zeros = static_cast<std::size_t>(integerDigits - count);
            std::memset(out + n, '0', zeros);
            n += zeros;
        } else if (count > integerDigits) {
            out[n++] = '.';
            std::memcpy(out + n, digits + integerDigits, static_cast<std::size_t>(count - integerDigits));
            n += static_cast<std::size_t>(count - integerDigits);
        }
    }
    return std::string(out, n);
}

QString fileText(double value)
{
    const std::string text = formatDouble15(value);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString fileText(const Decimal& value)
{
    const std::string text = value.toString();
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString boxText(double value, const QLocale& locale)
{
    return withDecimalPoint(fileText(value), locale);
}

QString boxText(const Decimal& value, const QLocale& locale)
{
    return withDecimalPoint(fileText(value), locale);
}

Decimal readBox(const QString& text, const QLocale& locale)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    QString body = text.mid(begin, end - begin);
    const QString point = locale.decimalPoint();
    if (point != QLatin1String("."))
        body.replace(point, QLatin1String("."));

    // Characters outside Latin-1 become '?', which no number contains.
    const QByteArray latin1 = body.toLatin1();
    const std::string_view candidate(latin1.constData(), static_cast<std::size_t>(latin1.size()));
    Decimal value;
    const Decimal::ParseStatus status = Decimal::parseInto(candidate, value);
    if (status == Decimal::ParseStatus::Ok)
        return value;
    // Appended piece by piece: GCC 12 at -O3 warns (wrongly, -Wrestrict)
    // about "\"" + std::string.
    std::string quoted(1, '"');
    quoted += printable(text.toStdString());
    quoted += '"';
    if (status == Decimal::ParseStatus::Overflow)
        throw RuntimeError("number out of range: " + quoted);
    throw RuntimeError("not a number: " + quoted);
}

std::string printable(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace zelvar
