#pragma once

#include <QLocale>
#include <QWidget>

#include <memory>

namespace zelvar {

class Clock;
class FrameReceiver;
struct ReceiveOutcome;
class MainForm;
class SequentialFiles;
class SerialControl;

// The serial host window: never shown, it hosts the serial control MSComm1
// and takes its receive event, which the frame receiver handles.
class Frm_RS232 final : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Form1";

    Frm_RS232(std::unique_ptr<SerialControl> serial, MainForm& form, SequentialFiles& files, const Clock& clock,
              const QLocale& locale);
    ~Frm_RS232() override;

    SerialControl& MSComm1() { return *serial_; }
    FrameReceiver& receiver() { return *receiver_; }

Q_SIGNALS:
    // After each receive event, with what the receiver made of it.
    void MSComm1_Received(const zelvar::ReceiveOutcome& outcome);

private:
    std::unique_ptr<SerialControl> serial_;
    std::unique_ptr<FrameReceiver> receiver_;
};

} // namespace zelvar
