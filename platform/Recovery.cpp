#include "platform/Recovery.h"

#include "platform/MainForm.h"
#include "platform/SerialControl.h"

#include <exception>

namespace zelvar {

void closePortQuietly(SerialControl& serial) noexcept
{
    try {
        if (serial.PortOpen())
            serial.setPortOpen(false);
    } catch (const std::exception&) {
    }
}

void showIdleAfterError(MainForm& form, SerialControl& serial) noexcept
{
    form.Combo2().setEnabled(true);
    form.Combo1().setEnabled(true);
    form.Command1().setCaption(caption::kStart);
    form.Label2().setCaption(caption::kError);
    closePortQuietly(serial);
}

} // namespace zelvar
