#include "platform/FlywheelBoxes.h"

#include "platform/MainForm.h"
#include "platform/NumberText.h"
#include "platform/RuntimeError.h"

namespace zelvar {

namespace {

std::optional<Decimal> readNumberBox(MainForm& form, Box box, const char* name, const QLocale& locale,
                                     std::string& failure)
{
    const QString text = form.Text1(box).text();
    // Stop blanks the boxes and only the dyno's set-up frame fills them: an
    // empty one means none came since.
    if (text.trimmed().isEmpty()) {
        failure = std::string("no set-up frame from the dyno: ") + name + " is empty";
        return std::nullopt;
    }
    try {
        return readBox(text, locale);
    } catch (const RuntimeError& e) {
        failure = std::string(name) + ": " + e.what();
        return std::nullopt;
    }
}

} // namespace

FlywheelBoxes readFlywheelBoxes(MainForm& form, const QLocale& locale)
{
    FlywheelBoxes boxes;
    boxes.radiusMm = readNumberBox(form, Box::FlywheelRadius, "Flywheel Radius", locale, boxes.radiusFailure);
    boxes.weightG = readNumberBox(form, Box::FlywheelWeight, "Flywheel Weight", locale, boxes.weightFailure);
    boxes.escNeutral = form.Text1(Box::EscNeutral).text();
    boxes.escFull = form.Text1(Box::EscFull).text();
    return boxes;
}

} // namespace zelvar
