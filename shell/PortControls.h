#pragma once

#include "platform/PortMap.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

namespace zelvar {

class NorvDynoData;
class PortDialog;

// The port list's additions, which leave the window's own layout as it is:
// each entry's tool tip says which device it opens and whether that is
// present, and the port dialog is reached through the list's context menu
// (while the list is enabled) and Ctrl+P (at any time).
class PortControls final : public QObject {
    Q_OBJECT

public:
    // `currentPort` is the port the serial control has, for a list that
    // names none; `serialDevices` lists the devices the dialog offers.
    PortControls(NorvDynoData& window, std::function<int()> currentPort,
                 std::function<QList<portmap::DeviceInfo>()> serialDevices);
    ~PortControls() override;

    // The port dialog for the selected COM number, made on first use.
    void showPortDialog();
    PortDialog* portDialog() { return portDialog_.get(); }
    void updatePortToolTips();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int selectedPort() const;

    NorvDynoData& window_;
    std::function<int()> currentPort_;
    std::function<QList<portmap::DeviceInfo>()> serialDevices_;
    std::unique_ptr<PortDialog> portDialog_;
};

} // namespace zelvar
