#include "shell/PortDialog.h"

#include "platform/RuntimeError.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace zelvar {

namespace {

enum Column { Device, Description, Manufacturer, SerialNumber, UsbIds, ColumnCount };

} // namespace

PortDialog::PortDialog(DeviceList devices, QWidget* parent)
    : QDialog(parent), devices_(std::move(devices)), current_(new QLabel(this)), list_(new QTreeWidget(this)),
      edit_(new QLineEdit(this)), problem_(new QLabel(this)), save_(new QPushButton(QStringLiteral("Save"), this)),
      forget_(new QPushButton(QStringLiteral("Use the default"), this))
{
    setObjectName(QStringLiteral("PortDialog"));
    current_->setWordWrap(true);
    current_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    list_->setColumnCount(ColumnCount);
    list_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Manufacturer"),
                            QStringLiteral("Serial number"), QStringLiteral("USB ids")});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // A pick, not the current row: the list makes its first row current
    // when it takes the focus, which would offer a device nobody chose.
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> picked = list_->selectedItems();
        if (!picked.isEmpty())
            edit_->setText(picked.constFirst()->text(Device));
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { saveDevice(); });

    // A device the system does not list (a pseudo-terminal, a Bluetooth
    // port) can still be typed in.
    edit_->setPlaceholderText(QStringLiteral("/dev/ttyUSB0"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b00020"));
    problem_->hide();

    connect(save_, &QPushButton::clicked, this, &PortDialog::saveDevice);
    connect(forget_, &QPushButton::clicked, this, &PortDialog::forgetDevice);
    connect(edit_, &QLineEdit::returnPressed, this, &PortDialog::saveDevice);
    save_->setAutoDefault(false);
    forget_->setAutoDefault(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(new QLabel(QStringLiteral("Device:"), this));
    deviceRow->addWidget(edit_, 1);
    deviceRow->addWidget(save_);
    deviceRow->addWidget(forget_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(current_);
    layout->addWidget(new QLabel(QStringLiteral("Serial devices present:"), this));
    layout->addWidget(list_, 1);
    layout->addLayout(deviceRow);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    resize(640, 320);
}

PortDialog::~PortDialog() = default;

void PortDialog::showFor(int port)
{
    port_ = port;
    setWindowTitle(QStringLiteral("Serial device for COM%1").arg(port));
    problem_->hide();
    list_->clear();
    for (const portmap::DeviceInfo& device : devices_()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(Device, device.device);
        item->setText(Description, device.description);
        item->setText(Manufacturer, device.manufacturer);
        item->setText(SerialNumber, device.serialNumber);
        item->setText(UsbIds, portmap::usbIds(device));
    }
    refresh();
    show();
    raise();
    activateWindow();
}

void PortDialog::refresh()
{
    const portmap::Resolution now = portmap::resolve(port_);
    QString text =
        QStringLiteral("COM%1 opens %2 (%3)").arg(port_).arg(now.device, portmap::sourceText(now.source, port_));
    if (!portmap::devicePresent(now.device))
        text += QStringLiteral(", which is not present");
    if (now.source == portmap::Source::Variable)
        text += QStringLiteral(". The variable wins over a saved device while it is set");
    current_->setText(text + QLatin1Char('.'));
    edit_->setText(now.device);
    forget_->setEnabled(!portmap::savedDevice(port_).isEmpty());
}

void PortDialog::saveDevice()
{
    const QString device = edit_->text().trimmed();
    if (device.isEmpty())
        return;
    changeMap([&] { portmap::saveDevice(port_, portmap::stableDeviceName(device)); });
}

void PortDialog::forgetDevice()
{
    changeMap([&] { portmap::forgetDevice(port_); });
}

void PortDialog::changeMap(const std::function<void()>& change)
{
    try {
        change();
        problem_->hide();
    } catch (const RuntimeError& error) {
        problem_->setText(QString::fromUtf8(error.what()));
        problem_->show();
    }
    refresh();
    Q_EMIT mapChanged(port_);
}

} // namespace zelvar
