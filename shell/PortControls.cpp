#include "shell/PortControls.h"

#include "link/PortSelection.h"
#include "shell/NorvDynoData.h"
#include "shell/PortDialog.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QKeySequence>
#include <QShortcut>

namespace zelvar {

PortControls::PortControls(NorvDynoData& window, std::function<int()> currentPort,
                           std::function<QList<portmap::DeviceInfo>()> serialDevices)
    : window_(window), currentPort_(std::move(currentPort)), serialDevices_(std::move(serialDevices))
{
    if (!serialDevices_)
        serialDevices_ = [] { return portmap::presentDevices(); };
    // A disabled list (during a run) gets no context menu; the shortcut
    // works at any time.
    auto* action = new QAction(QStringLiteral("Serial device for this COM port... (Ctrl+P)"), &window_);
    action->setObjectName(QStringLiteral("PortDialogAction"));
    connect(action, &QAction::triggered, this, &PortControls::showPortDialog);
    QComboBox* ports = window_.combo1Widget();
    ports->addAction(action);
    ports->setContextMenuPolicy(Qt::ActionsContextMenu);
    // Adapters come and go while the program runs: the entries' tool tips
    // are brought up to date whenever the operator reaches for the list.
    ports->installEventFilter(this);

    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), &window_);
    shortcut->setObjectName(QStringLiteral("PortDialogShortcut"));
    connect(shortcut, &QShortcut::activated, this, &PortControls::showPortDialog);
}

PortControls::~PortControls() = default;

bool PortControls::eventFilter(QObject* watched, QEvent* event)
{
    // The list reports events while the window is being taken apart too, so
    // the window is asked nothing unless the operator reached for the list.
    const bool reached = event->type() == QEvent::Enter || event->type() == QEvent::MouseButtonPress
                      || event->type() == QEvent::KeyPress;
    if (reached && watched == window_.combo1Widget())
        updatePortToolTips();
    return QObject::eventFilter(watched, event);
}

int PortControls::selectedPort() const
{
    const int listed = PortSelection::numericValue(window_.combo1Widget()->currentText());
    return listed >= 1 ? listed : currentPort_();
}

void PortControls::showPortDialog()
{
    if (!portDialog_) {
        portDialog_ = std::make_unique<PortDialog>(serialDevices_, &window_);
        portDialog_->setWindowFlag(Qt::Window);
        // The port opens only at Start, and reads the map then: a device
        // saved while idle is what the next Start opens, one saved during a
        // run waits for the next Start. The tool tips follow at once.
        connect(portDialog_.get(), &PortDialog::mapChanged, this, &PortControls::updatePortToolTips);
    }
    portDialog_->showFor(selectedPort());
}

void PortControls::updatePortToolTips()
{
    QComboBox* ports = window_.combo1Widget();
    for (int i = 0; i < ports->count(); ++i) {
        const int port = PortSelection::numericValue(ports->itemText(i));
        if (port < 1)
            continue;
        try {
            const portmap::Resolution resolution = portmap::resolve(port);
            ports->setItemData(i, portmap::entryToolTip(port, resolution, portmap::devicePresent(resolution.device)),
                               Qt::ToolTipRole);
        } catch (const std::exception&) {
            // Not a port number the map knows; no tool tip.
        }
    }
}

} // namespace zelvar
