// The settings text parser against its grammar: "baud,parity,data,stop" with
// baud a positive integer that fits a qint32 (ASCII digits only), parity one
// of N E O M S in either case, data bits 5 to 8, stop bits 1, 1.5 or 2, no
// blanks. parseSettings must accept exactly those texts, with the fields they
// spell, and reject every other with a RuntimeError that quotes the text. The
// serial control's Settings property must follow the parser.

#include "FuzzSupport.h"

#include "MemorySerialControl.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

using namespace zelvar;

namespace {

std::string show(const QString& text)
{
    return "\"" + text.toStdString() + "\"";
}

bool isAsciiDigits(const QString& field)
{
    if (field.isEmpty())
        return false;
    for (const QChar c : field) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return false;
    }
    return true;
}

// The grammar, written out on its own, without Qt's number conversion.
std::optional<SerialSettings> expected(const QString& text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    SerialSettings s;
    const QString& baud = fields[0];
    if (!isAsciiDigits(baud))
        return std::nullopt;
    std::int64_t value = 0;
    for (const QChar c : baud) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > 2147483647)
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    s.baudRate = static_cast<qint32>(value);

    const QString& parity = fields[1];
    if (parity.size() != 1)
        return std::nullopt;
    // An ASCII letter of "NEOMS", in either case.
    const char16_t letter = parity[0].unicode();
    const char16_t upper = letter >= u'a' && letter <= u'z' ? char16_t(letter - u'a' + u'A') : letter;
    if (upper == 0 || std::u16string_view(u"NEOMS").find(upper) == std::u16string_view::npos)
        return std::nullopt;
    s.parity = static_cast<char>(upper);

    const QString& data = fields[2];
    if (data.size() != 1 || data[0].unicode() < u'5' || data[0].unicode() > u'8')
        return std::nullopt;
    s.dataBits = data[0].unicode() - u'0';

    const QString& stop = fields[3];
    if (stop == u"1")
        s.stopBits = SerialSettings::StopBits::One;
    else if (stop == u"1.5")
        s.stopBits = SerialSettings::StopBits::OneAndHalf;
    else if (stop == u"2")
        s.stopBits = SerialSettings::StopBits::Two;
    else
        return std::nullopt;
    return s;
}

std::string describe(const SerialSettings& s)
{
    return std::to_string(s.baudRate) + "," + s.parity + "," + std::to_string(s.dataBits) + ","
         + std::to_string(static_cast<int>(s.stopBits));
}

void check(const QString& text)
{
    const std::optional<SerialSettings> want = expected(text);
    std::optional<SerialSettings> got;
    try {
        got = parseSettings(text);
    } catch (const RuntimeError& e) {
        const std::string what = e.what();
        ZELVAR_FUZZ_CHECK(what.find(fuzz::upToNul(show(text))) != std::string::npos,
                          "the message does not quote the text " + show(text) + ": " + what);
    } catch (const std::exception& e) {
        ZELVAR_FUZZ_CHECK(false, "not a RuntimeError for " + show(text) + ": " + e.what());
    }
    ZELVAR_FUZZ_CHECK(got.has_value() == want.has_value(),
                      show(text) + (got ? " accepted as " + describe(*got) : " rejected"));
    if (got) {
        ZELVAR_FUZZ_CHECK(*got == *want, show(text) + " parsed as " + describe(*got) + ", want " + describe(*want));
    }

    // The control validates at once and keeps the last valid text.
    MemorySerialControl control;
    const QString before = control.Settings();
    try {
        control.setSettings(text);
    } catch (const RuntimeError&) {
    }
    ZELVAR_FUZZ_CHECK(control.Settings() == (want ? text : before),
                      "Settings() is " + show(control.Settings()) + " after setting " + show(text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::ByteReader in(data, size);
    // The first byte picks how the rest becomes text: Latin-1 reaches every
    // byte, UTF-8 every character, and UTF-16 code units (two bytes each)
    // make any character as likely as any other, which is what finds the few
    // that upper-case into ASCII.
    const std::uint8_t how = in.byte();
    const std::string_view rest = in.rest();
    const auto length = static_cast<qsizetype>(rest.size());
    QString text;
    switch (how % 3) {
    case 0:
        text = QString::fromUtf8(rest.data(), length);
        break;
    case 1:
        text = QString::fromLatin1(rest.data(), length);
        break;
    default:
        for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
            text += QChar(static_cast<char16_t>(static_cast<std::uint8_t>(rest[i])
                                                | static_cast<std::uint8_t>(rest[i + 1]) << 8));
        break;
    }
    check(text);
    return 0;
}
