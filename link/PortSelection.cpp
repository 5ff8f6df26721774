#include "link/PortSelection.h"

#include "platform/MainForm.h"
#include "platform/Recovery.h"
#include "platform/SerialControl.h"

#include <QStringList>

namespace zelvar {

QStringList PortSelection::portEntries()
{
    QStringList entries{QStringLiteral("3")};
    for (int port = 1; port <= 16; ++port)
        entries << QString::number(port);
    return entries;
}

QStringList PortSelection::settingsEntries()
{
    return {QStringLiteral("115200,N,8,1"), QStringLiteral("57600,N,8,1"), QStringLiteral("19200,N,8,1"),
            QStringLiteral("9600,N,8,1"), QStringLiteral("4800,N,8,1")};
}

int PortSelection::numericValue(const QString& text)
{
    int value = 0;
    for (QChar c : text) {
        if (!c.isDigit() || c.unicode() > '9')
            break;
        if (value > 100000000)
            break; // far beyond any port; the control refuses it anyway
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

PortSelection::PortSelection(MainForm& form, SerialControl& serial) : form_(form), serial_(serial) {}

void PortSelection::setUpLists()
{
    ComboBox& ports = form_.Combo1();
    ports.insertItem(0, portEntries().constFirst());
    for (const QString& entry : portEntries().mid(1))
        ports.addItem(entry);
    ports.setCurrentIndex(0);
    serial_.setCommPort(numericValue(ports.text()));

    ComboBox& settings = form_.Combo2();
    const QStringList entries = settingsEntries();
    for (int i = 0; i < entries.size(); ++i)
        settings.insertItem(i, entries[i]);
    settings.setCurrentIndex(0);
    serial_.setSettings(settings.text());
}

template <class Apply>
PickOutcome PortSelection::applyPick(Apply&& apply)
{
    try {
        if (serial_.PortOpen()) {
            serial_.setPortOpen(false);
            apply();
            serial_.setPortOpen(true);
        } else {
            apply();
        }
    } catch (const std::exception& e) {
        form_.Label2().setCaption(caption::kError);
        closePortQuietly(serial_);
        return {QString::fromStdString(e.what())};
    }
    return {};
}

PickOutcome PortSelection::Combo1_Click()
{
    return applyPick([this] { serial_.setCommPort(numericValue(form_.Combo1().text())); });
}

PickOutcome PortSelection::Combo2_Click()
{
    return applyPick([this] { serial_.setSettings(form_.Combo2().text()); });
}

} // namespace zelvar
