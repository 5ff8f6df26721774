#pragma once

#include "platform/PortMap.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace zelvar {

// Which device a COM number opens: the serial devices present, with their
// description, maker, serial number and USB ids, and the device the COM
// number opens now. Saving stores the picked device for the COM number (its
// stable /dev/serial/by-id name where it has one); the port reads the map
// when it opens, so a device saved during a run applies at the next Start.
class PortDialog final : public QDialog {
    Q_OBJECT

public:
    using DeviceList = std::function<QList<portmap::DeviceInfo>()>;

    explicit PortDialog(DeviceList devices, QWidget* parent = nullptr);
    ~PortDialog() override;

    // Shows the dialog for COM `port`, with the devices present now.
    void showFor(int port);
    int port() const { return port_; }

    // The widgets, for tests.
    QTreeWidget* deviceList() const { return list_; }
    QLineEdit* deviceEdit() const { return edit_; }
    QLabel* currentLabel() const { return current_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* forgetButton() const { return forget_; }

Q_SIGNALS:
    // The saved map changed for `port`.
    void mapChanged(int port);

private:
    void refresh();
    void saveDevice();
    void forgetDevice();
    // Applies `change` to the saved map; what it throws shows in the dialog.
    void changeMap(const std::function<void()>& change);

    DeviceList devices_;
    int port_ = 1;
    QLabel* current_;
    QTreeWidget* list_;
    QLineEdit* edit_;
    QLabel* problem_;
    QPushButton* save_;
    QPushButton* forget_;
};

} // namespace zelvar
