#pragma once

#include "platform/Decimal.h"

#include <QLocale>
#include <QString>

#include <string>
#include <string_view>

namespace zelvar {

// Plain decimal text of a double: at most 15 significant digits, no exponent,
// no trailing zeros, "." as separator (500 ticks / 100 -> "5").
std::string formatDouble15(double value);

// File form: what a record holds. "." always.
QString fileText(double value);
QString fileText(const Decimal& value);

// Box form: what a read-out box shows. The file form with the decimal
// separator of the given locale (the user's, by default).
QString boxText(double value, const QLocale& locale = QLocale::system());
QString boxText(const Decimal& value, const QLocale& locale = QLocale::system());

// Reads the number a box holds: blanks around it are ignored; the locale's
// decimal separator and "." are both accepted; no grouping, no exponent.
// Throws RuntimeError naming the text when it is not a number.
Decimal readBox(const QString& text, const QLocale& locale = QLocale::system());

// A field's text as a message quotes it: control bytes, and a zero byte
// above all (which would end the message there), written as \xNN.
std::string printable(std::string_view text);

} // namespace zelvar
