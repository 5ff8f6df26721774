// The port dialog and the run's watch for frames in the real windows on the
// offscreen platform, with the in-memory serial control, scratch settings
// and a scripted timer.

#include "platform/PortMap.h"
#include "shell/NorvDynoData.h"
#include "shell/PortDialog.h"
#include "shell/ZelvarApplication.h"

#include "Files.h"
#include "Frames.h"
#include "MemorySerialControl.h"
#include "ProgramTest.h"
#include "QtPrinters.h"
#include "RecordingMessageBox.h"
#include "ScratchSettings.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

class PortDialogTest : public ProgramTest {
protected:
    PortDialogTest()
    {
        qunsetenv("ZELVAR_COM3");
        adapter_.device = devices_.filePath("ttyUSB0");
        adapter_.description = "FT232R USB UART";
        adapter_.manufacturer = "FTDI";
        adapter_.serialNumber = "A10K5XYZ";
        adapter_.vendorId = 0x0403;
        adapter_.productId = 0x6001;
        writeAll(adapter_.device, "");
        other_.device = devices_.filePath("ttyACM0");
        writeAll(other_.device, "");

        program_ = makeProgram([this](ShellOptions& options) {
            options.startTimer = [this](std::chrono::milliseconds delay, std::function<void()> action) {
                timers_.push_back({delay, std::move(action)});
            };
            options.serialDevices = [this] { return QList<portmap::DeviceInfo>{adapter_, other_}; };
        });
        EXPECT_TRUE(program_->Form_Load());
        window().show();
    }

    NorvDynoData& window() { return program_->mainWindow(); }
    QString statusTip() { return window().label2Widget()->toolTip(); }
    QString entryTip(int index) { return window().combo1Widget()->itemData(index, Qt::ToolTipRole).toString(); }
    void pressStartStop() { QTest::mouseClick(window().command1Widget(), Qt::LeftButton); }

    PortDialog& openDialog()
    {
        // The shortcut belongs to the main window, which must be the active
        // one; the dialog, once shown, may have taken that over.
        window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
        QTest::keyClick(window().text1Widget(3), Qt::Key_P, Qt::ControlModifier);
        EXPECT_NE(program_->portDialog(), nullptr) << "Ctrl+P opens the port dialog";
        return *program_->portDialog();
    }
    void pick(PortDialog& dialog, int row)
    {
        dialog.deviceList()->setCurrentItem(dialog.deviceList()->topLevelItem(row));
        QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    }
    // Fires the timers armed so far, as their time comes.
    void fireTimers()
    {
        auto armed = std::exchange(timers_, {});
        for (auto& timer : armed)
            timer.second();
    }

    ScratchSettings settings_;
    QTemporaryDir devices_;
    portmap::DeviceInfo adapter_;
    portmap::DeviceInfo other_;
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> timers_;
    std::unique_ptr<ZelvarApplication> program_;
};

TEST_F(PortDialogTest, TheDialogListsTheDevicesPresentAndWhatTheSelectedComNumberOpens)
{
    PortDialog& dialog = openDialog();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.port(), 3);
    const QString current = dialog.currentLabel()->text();
    EXPECT_TRUE(current.contains("COM3 opens " + portmap::defaultDevice(3) + " (default)")) << current.toStdString();

    const QStringList expectedRows[] = {
        {adapter_.device, "FT232R USB UART", "FTDI", "A10K5XYZ", "0403:6001"},
        {other_.device, "", "", "", ""},
    };
    ASSERT_EQ(dialog.deviceList()->topLevelItemCount(), 2);
    for (int row = 0; row < 2; ++row) {
        QStringList actual;
        for (int column = 0; column < 5; ++column)
            actual << dialog.deviceList()->topLevelItem(row)->text(column);
        EXPECT_EQ(actual, expectedRows[row]) << "row " << row;
    }
}

TEST_F(PortDialogTest, TheDialogOffersTheDeviceTheComNumberOpensNowAndSaysWhy)
{
    struct Case {
        const char* source;
        std::function<void()> arrange;
        QString device;
    };
    const Case cases[] = {
        {"variable ZELVAR_COM3", [this] { qputenv("ZELVAR_COM3", other_.device.toLocal8Bit()); }, other_.device},
        {"saved", [this] { portmap::saveDevice(3, other_.device); }, other_.device},
        {"default", [] {}, portmap::defaultDevice(3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        portmap::forgetDevice(3);
        c.arrange();
        PortDialog& dialog = openDialog();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        dialog.deviceList()->setFocus(); // the list's first row becomes current
        QCoreApplication::processEvents();
        EXPECT_EQ(dialog.deviceEdit()->text(), c.device) << "Save as offered keeps what COM3 opens";
        EXPECT_TRUE(dialog.currentLabel()->text().contains(QStringLiteral("(%1)").arg(QLatin1String(c.source))))
            << dialog.currentLabel()->text().toStdString();
        dialog.close();
        qunsetenv("ZELVAR_COM3");
    }
}

TEST_F(PortDialogTest, ThePortListsContextMenuOffersTheDialogWhileTheListIsEnabled)
{
    QComboBox* ports = window().combo1Widget();
    EXPECT_EQ(ports->contextMenuPolicy(), Qt::ActionsContextMenu);
    ASSERT_EQ(ports->actions().size(), 1);
    ports->actions().constFirst()->trigger();
    ASSERT_NE(program_->portDialog(), nullptr);
    EXPECT_TRUE(program_->portDialog()->isVisible());
    EXPECT_EQ(ports->count(), 17) << "the list's entries stay as they are";
}

TEST_F(PortDialogTest, ADevicePickedWhileIdleIsSavedAndOpensAtTheNextStart)
{
    EXPECT_TRUE(entryTip(0).startsWith("COM3 opens " + portmap::defaultDevice(3) + " (default)"))
        << entryTip(0).toStdString();
    PortDialog& dialog = openDialog();
    pick(dialog, 0);
    EXPECT_EQ(portmap::savedDevice(3), adapter_.device);
    EXPECT_TRUE(dialog.currentLabel()->text().contains("COM3 opens " + adapter_.device + " (saved)"))
        << dialog.currentLabel()->text().toStdString();
    // The list's first entry and its fourth are both COM3.
    for (int index : {0, 3})
        EXPECT_EQ(entryTip(index), "COM3 opens " + adapter_.device + " (saved), present") << "entry " << index;

    pressStartStop();
    ASSERT_EQ(window().label2Widget()->text(), "Now Running") << statusTip().toStdString();
    EXPECT_EQ(comm_->openedDevice(), adapter_.device);
}

TEST_F(PortDialogTest, AnEntrysToolTipFollowsItsDeviceComingAndGoing)
{
    const QString adapter = devices_.filePath("ttyUSB9");
    portmap::saveDevice(3, adapter);
    QComboBox* ports = window().combo1Widget();
    for (const bool present : {false, true, false}) {
        if (present)
            writeAll(adapter, "");
        else
            QFile::remove(adapter);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(ports, &enter);
        const QString expected = "COM3 opens " + adapter + " (saved), " + (present ? "present" : "not present");
        EXPECT_EQ(entryTip(0), expected);
    }
}

TEST_F(PortDialogTest, ADevicePickedDuringARunAppliesAtTheNextStart)
{
    pressStartStop();
    ASSERT_EQ(window().label2Widget()->text(), "Now Running");
    EXPECT_FALSE(window().combo1Widget()->isEnabled());
    PortDialog& dialog = openDialog();
    EXPECT_TRUE(dialog.isVisible()) << "Ctrl+P works during a run too";
    pick(dialog, 1);
    EXPECT_EQ(portmap::savedDevice(3), other_.device);
    EXPECT_EQ(comm_->openedDevice(), portmap::defaultDevice(3)) << "the open port is left alone";
    EXPECT_TRUE(comm_->PortOpen());

    pressStartStop();
    pressStartStop();
    EXPECT_EQ(window().label2Widget()->text(), "Now Running");
    EXPECT_EQ(comm_->openedDevice(), other_.device);

    QTest::mouseClick(dialog.forgetButton(), Qt::LeftButton);
    EXPECT_EQ(portmap::savedDevice(3), "");
    EXPECT_EQ(entryTip(0).section(',', 0, 0), "COM3 opens " + portmap::defaultDevice(3) + " (default)");
}

TEST_F(PortDialogTest, ASavedDeviceMissingAtStartShowsErrorWithThatReason)
{
    portmap::saveDevice(3, devices_.filePath("ttyUSB7"));
    comm_->setPortMissing(3);
    pressStartStop();
    EXPECT_EQ(window().label2Widget()->text(), "Error!");
    EXPECT_TRUE(statusTip().contains("No such file or directory") && statusTip().contains("saved for COM3"))
        << statusTip().toStdString();
}

TEST_F(PortDialogTest, ARunThatHearsNoFrameSaysSoBesideNowRunningUntilTheFirstFrame)
{
    pressStartStop();
    ASSERT_EQ(timers_.size(), 1u);
    EXPECT_EQ(timers_[0].first, std::chrono::milliseconds(3000));
    comm_->feed(QByteArray(40, '\x55')); // bytes, but no frame: a wrong line speed
    fireTimers();
    EXPECT_EQ(window().label2Widget()->text(), "Now Running");
    const QString hint = statusTip();
    for (const QString& part : {portmap::defaultDevice(3), QString("COM3"), QString("Ctrl+P"), QString("settings")})
        EXPECT_TRUE(hint.contains(part)) << "expected \"" << part.toStdString() << "\" in: " << hint.toStdString();

    comm_->feed(runSample(2, 2));
    EXPECT_EQ(statusTip(), "") << "the first frame ends the hint";
    EXPECT_TRUE(messages_.shown.isEmpty()) << "no message box";
}

TEST_F(PortDialogTest, TheWatchIsQuietWhenAFrameCameOrTheRunEnded)
{
    // A frame in time.
    pressStartStop();
    comm_->feed(runSample(2, 2));
    fireTimers();
    EXPECT_EQ(statusTip(), "");

    // A run stopped before its watch ended, and one started since.
    pressStartStop();
    pressStartStop();
    auto firstWatch = std::exchange(timers_, {});
    pressStartStop();
    pressStartStop();
    ASSERT_EQ(firstWatch.size(), 1u);
    firstWatch[0].second();
    EXPECT_EQ(statusTip(), "") << "a watch speaks for its own run only";
    fireTimers();
    EXPECT_EQ(window().label2Widget()->text(), "Now Running");
    EXPECT_FALSE(statusTip().isEmpty());

    // Stop ends the hint, whatever it ends in. (With empty set-up boxes, as
    // here, the report fails and its reason shows beside "Error!".)
    pressStartStop();
    EXPECT_NE(window().label2Widget()->text(), "Now Running");
    EXPECT_FALSE(statusTip().contains("Ctrl+P")) << statusTip().toStdString();
}

TEST_F(PortDialogTest, AFailureDuringTheHintShowsItsReasonInstead)
{
    pressStartStop();
    fireTimers();
    ASSERT_FALSE(statusTip().isEmpty());
    comm_->loseDevice("device unplugged");
    EXPECT_EQ(window().label2Widget()->text(), "Error!");
    EXPECT_TRUE(statusTip().contains("device unplugged")) << statusTip().toStdString();
    EXPECT_FALSE(statusTip().contains("Ctrl+P")) << "the hint is no error reason";
}

} // namespace
