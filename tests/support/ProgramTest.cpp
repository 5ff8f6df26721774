#include "ProgramTest.h"

#include "Files.h"

namespace zelvar::testing_support {

ProgramTest::ProgramTest()
{
    writeAll(appFile("RCS.dat"), "serial");
    writeAll(appFile("RTA.dat"), "controls");
}

std::unique_ptr<ZelvarApplication> ProgramTest::makeProgram(const std::function<void(ShellOptions&)>& adjust)
{
    ShellOptions options;
    options.applicationDirectory = appDir_.path();
    options.drivesRoot = drives_.path();
    options.makeSerialControl = [this] {
        auto control = std::make_unique<MemorySerialControl>();
        comm_ = control.get();
        return control;
    };
    options.messageBox = &messages_;
    options.locale = QLocale::c();
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
