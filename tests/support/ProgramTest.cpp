#include "ProgramTest.h"

#include "Files.h"

#include "session/RunSession.h"

#include <QCoreApplication>

namespace zelvar::testing_support {

ProgramTest::ProgramTest()
{
    writeAll(appFile("RCS.dat"), "serial");
    writeAll(appFile("RTA.dat"), "controls");
}

void waitForStopReport(ZelvarApplication& program)
{
    if (program.session())
        program.session()->waitForMeasurement();
    // The reading is posted to the window's thread once it is done.
    QCoreApplication::processEvents();
}

ShellOptions testOptions(const QString& directory, MessageBox& messages)
{
    ShellOptions options;
    options.applicationDirectory = directory;
    options.messageBox = &messages;
    options.locale = QLocale::c();
    options.endProgram = [] {};
    return options;
}

std::unique_ptr<ZelvarApplication> ProgramTest::makeProgram(const std::function<void(ShellOptions&)>& adjust)
{
    ShellOptions options = testOptions(appDir_.path(), messages_);
    options.drivesRoot = drives_.path();
    options.makeSerialControl = [this] {
        auto control = std::make_unique<MemorySerialControl>();
        comm_ = control.get();
        return control;
    };
    options.endProgram = [this] { ++ended_; };
    if (adjust)
        adjust(options);
    return std::make_unique<ZelvarApplication>(options);
}

QString ProgramTest::appFile(const char* name) const
{
    return appDir_.filePath(QString::fromLatin1(name));
}

} // namespace zelvar::testing_support
