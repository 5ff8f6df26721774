#pragma once

namespace zelvar {

class MainForm;
class SerialControl;

// Closes the port when it is open. Recovery blocks and shutdown call it, and
// nothing may escape them into the event loop: a port that fails to close is
// left to the next Start, which opens it anew.
void closePortQuietly(SerialControl& serial) noexcept;

// The idle look both recovery blocks return the window to after a failure,
// in this order: both lists enabled, "Start", "Error!", the port closed.
void showIdleAfterError(MainForm& form, SerialControl& serial) noexcept;

} // namespace zelvar
