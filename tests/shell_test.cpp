// The program as a whole on the offscreen platform: the real windows, the
// in-memory serial control, a temporary application directory.

#include "platform/MessageBox.h"
#include "platform/SerialControl.h"
#include "shell/Frm_RS232.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include "Files.h"
#include "Frames.h"
#include "MemorySerialControl.h"
#include "ProgramTest.h"
#include "QtPrinters.h"
#include "RecordingMessageBox.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

// 50 mm, 1000 g, ESC 1500 and 2000 us, interval 20 ms.
const QByteArray kSetupFrame = setupFrame({.radiusTenthsMm = 500, .weightTenthsG = 10000});

class ShellTest : public ProgramTest {};

TEST_F(ShellTest, AMissingControlFileEndsStartUpBeforeTheWindowShows)
{
    ASSERT_TRUE(QDir().mkpath(drives_.filePath("C/WINDOWS/system32")));
    for (const char* missing : {"RCS.dat", "RTA.dat"}) {
        SCOPED_TRACE(missing);
        QFile::remove(appFile(missing));
        auto program = makeProgram();
        EXPECT_FALSE(program->Form_Load());
        EXPECT_FALSE(program->mainWindow().isVisible());
        EXPECT_EQ(program->serialForm(), nullptr) << "the serial host is never loaded";
        EXPECT_EQ(program->mainWindow().Combo1().count(), 0);
        EXPECT_TRUE(QDir(drives_.filePath("C/WINDOWS/system32")).isEmpty()) << "nothing is copied";
        writeAll(appFile(missing), "back");
    }
    EXPECT_EQ(messages_.shown,
              QStringList({"Zelvar QT4 Data | Error,Please make sure The File ' RCS' is in the same folder with "
                           "Zelvar QT4 Data",
                           "Zelvar QT4 Data | Error,Please make sure The File ' RTA' is in the same folder Zelvar "
                           "QT4 Data"}));
}

TEST_F(ShellTest, StartUpLeavesTheDefaultsAppliedAndThePortClosed)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    NorvDynoData& window = program->mainWindow();
    EXPECT_EQ(window.combo1Widget()->count(), 17);
    EXPECT_EQ(window.combo1Widget()->currentText(), "3");
    EXPECT_EQ(window.combo2Widget()->count(), 5);
    EXPECT_EQ(window.combo2Widget()->currentText(), "115200,N,8,1");
    ASSERT_NE(comm_, nullptr);
    EXPECT_EQ(comm_->log(), QStringList({"CommPort=3", "Settings=115200,N,8,1"}));
    EXPECT_FALSE(comm_->PortOpen());
    EXPECT_TRUE(messages_.shown.isEmpty());
    EXPECT_FALSE(program->serialForm()->isVisible());
    EXPECT_EQ(program->serialForm()->windowTitle(), "Form1");
}

TEST_F(ShellTest, ARunFromStartToStopThroughTheButton)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    NorvDynoData& window = program->mainWindow();
    window.show();

    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Now Running") << window.label2Widget()->toolTip().toStdString();
    EXPECT_FALSE(window.combo1Widget()->isEnabled());
    comm_->feed(kSetupFrame + runSample(2, 2) + runSample(4, 3) + runSample(6, 6));
    // The boxes show the newest values within one refresh.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.text1Widget(3)->text() == "600"; }))
        << window.text1Widget(3)->text().toStdString();
    EXPECT_EQ(window.text1Widget(4)->text(), "50");

    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    EXPECT_EQ(window.label2Widget()->text(), "Now Ready");
    EXPECT_EQ(window.command1Widget()->text(), "Start");
    EXPECT_TRUE(window.combo1Widget()->isEnabled());
    EXPECT_FALSE(comm_->PortOpen());
    // The report's curves open once it is read; then the boxes' next refresh.
    waitForStopReport(*program);
    QTest::qWait(NorvDynoData::kBoxRefreshMs * 2);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(window.text1Widget(i)->text(), " ") << "Text1(" << i << ")";
    const QString expected = QStringLiteral(ZELVAR_TEST_DATA_DIR "/analysis/p01_worked_example/expected_save.csv");
    EXPECT_EQ(readAll(appFile("save.csv")), readAll(expected));
}

TEST_F(ShellTest, AnErrorSaysWhyInTheStatusToolTip)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    NorvDynoData& window = program->mainWindow();
    comm_->setPortMissing(3);
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    EXPECT_EQ(window.label2Widget()->text(), "Error!");
    EXPECT_TRUE(window.label2Widget()->toolTip().contains("cannot open"))
        << window.label2Widget()->toolTip().toStdString();
    // In plain sight too, below the window's own layout.
    EXPECT_EQ(window.statusStrip()->text(), window.label2Widget()->toolTip());
    EXPECT_TRUE(window.statusStrip()->wordWrap());
    EXPECT_GE(window.statusStrip()->y(), window.label2Widget()->geometry().bottom());

    comm_->setPortMissing(3, false);
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    EXPECT_EQ(window.label2Widget()->text(), "Now Running");
    EXPECT_TRUE(window.label2Widget()->toolTip().isEmpty());
    EXPECT_TRUE(window.statusStrip()->text().isEmpty());
    comm_->feed(kSetupFrame + runSample(2, 2));
    comm_->loseDevice("No such device");
    EXPECT_EQ(window.label2Widget()->text(), "Error!");
    EXPECT_TRUE(window.label2Widget()->toolTip().contains("No such device"));
    EXPECT_TRUE(window.statusStrip()->text().contains("No such device"));
    // The last values stay, greyed: they are no longer live.
    EXPECT_TRUE(window.readoutsStale());
    // Visibly: a style's own disabled text can be all but black.
    const QColor shown = window.text1Widget(4)->palette().color(QPalette::Text);
    const QColor live = QApplication::palette(window.text1Widget(4)).color(QPalette::Text);
    EXPECT_GE(std::abs(shown.lightness() - live.lightness()), 80) << shown.name().toStdString();
    EXPECT_EQ(window.Text1(Box::FlywheelRadius).text(), "50") << "the text is unchanged";
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    EXPECT_FALSE(window.readoutsStale()) << "a new run is live again";
}

TEST_F(ShellTest, APickThatWorksLeavesTheStatusAndItsReasonAsTheyWere)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    NorvDynoData& window = program->mainWindow();
    comm_->setPortMissing(3);
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    const QString reason = window.label2Widget()->toolTip();
    ASSERT_TRUE(reason.contains("cannot open")) << reason.toStdString();

    for (QComboBox* list : {window.combo1Widget(), window.combo2Widget()}) {
        SCOPED_TRACE(list->objectName().toStdString());
        list->setCurrentIndex(1);
        Q_EMIT list->activated(1);
        EXPECT_EQ(window.label2Widget()->text(), "Error!");
        EXPECT_EQ(window.label2Widget()->toolTip(), reason);
    }
}

TEST_F(ShellTest, PickingAnEntryAppliesItButTypingDoesNot)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    NorvDynoData& window = program->mainWindow();
    window.show();
    comm_->clearLog();

    QComboBox* ports = window.combo1Widget();
    ports->setFocus();
    ports->lineEdit()->selectAll();
    QTest::keyClicks(ports->lineEdit(), "7");
    EXPECT_TRUE(comm_->log().isEmpty()) << "typed text applies nothing";

    // A pick in the drop-down list selects the entry, then raises activated.
    ports->setCurrentIndex(16);
    EXPECT_TRUE(comm_->log().isEmpty()) << "a selection from code applies nothing";
    Q_EMIT ports->activated(16);
    EXPECT_EQ(comm_->log(), QStringList({"CommPort=16"}));
}

TEST_F(ShellTest, ClosingTheWindowDuringARunKeepsTheRecordsAndWritesNoReport)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    NorvDynoData& window = program->mainWindow();
    window.show();
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    comm_->feed(runSample(2, 2) + runSample(4, 3));
    comm_->clearLog();

    window.close();
    EXPECT_EQ(ended_, 1);
    EXPECT_EQ(comm_->log(), QStringList({"PortOpen=False"}));
    EXPECT_EQ(readAll(appFile("Temp.dat")), "0.02,12,10,200\r\n0.04,12,10,300\r\n");
    EXPECT_FALSE(QFile::exists(appFile("save.csv")));
}

TEST_F(ShellTest, ClosingWhileIdleWritesNothingToTheSerialControl)
{
    auto program = makeProgram();
    ASSERT_TRUE(program->Form_Load());
    comm_->clearLog();
    program->mainWindow().close();
    EXPECT_EQ(ended_, 1);
    EXPECT_TRUE(comm_->log().isEmpty());
}

} // namespace
