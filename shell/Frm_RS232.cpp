#include "shell/Frm_RS232.h"

#include "link/FrameReceiver.h"
#include "platform/SerialControl.h"
#include "shell/NorvDynoData.h"

namespace zelvar {

Frm_RS232::Frm_RS232(std::unique_ptr<SerialControl> serial, MainForm& form, SequentialFiles& files, const Clock& clock,
                     const QLocale& locale)
    : serial_(std::move(serial)), receiver_(std::make_unique<FrameReceiver>(*serial_, form, files, clock, locale))
{
    setObjectName(QStringLiteral("Frm_RS232"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setFixedSize(1680 / NorvDynoData::kTwipsPerPixel, 828 / NorvDynoData::kTwipsPerPixel);
    serial_->setObjectName(QStringLiteral("MSComm1"));
    connect(serial_.get(), &SerialControl::OnComm, this,
            [this] { Q_EMIT MSComm1_Received(receiver_->MSComm1_OnComm()); });
}

Frm_RS232::~Frm_RS232() = default;

} // namespace zelvar
