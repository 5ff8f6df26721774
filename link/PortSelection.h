#pragma once

#include <QString>

namespace zelvar {

class MainForm;
class SerialControl;

// What a pick did: applied, or refused with the reason ("Error!").
struct PickOutcome {
    QString reason; // empty when the pick was applied

    bool applied() const { return reason.isEmpty(); }
};

// The port list Combo1 and the settings list Combo2: filled once at start-up
// with their first entries applied, and applied again whenever the operator
// picks an entry. A pick while the port is open closes it, applies the value
// and opens it again; a closed port stays closed.
class PortSelection {
public:
    // "3" first, then "1" to "16": the usual port of the dyno's adapter
    // heads the list.
    static QStringList portEntries();
    static QStringList settingsEntries();

    // The number the leading digits of a list text spell; 0 when none.
    static int numericValue(const QString& text);

    PortSelection(MainForm& form, SerialControl& serial);

    // Fills both lists, selects their first entries and applies them: port
    // 3, "115200,N,8,1". The port is not opened.
    void setUpLists();

    // The operator picked an entry. When the control refuses the value or
    // the port does not open again, the status reads "Error!" and the port
    // stays closed; the lists stay usable.
    PickOutcome Combo1_Click();
    PickOutcome Combo2_Click();

private:
    template <class Apply>
    PickOutcome applyPick(Apply&& apply);

    MainForm& form_;
    SerialControl& serial_;
};

} // namespace zelvar
