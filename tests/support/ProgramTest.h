#pragma once

#include "MemorySerialControl.h"
#include "RecordingMessageBox.h"

#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zelvar::testing_support {

// The program's options for a test: in `directory`, message boxes recorded,
// numbers in the C locale, ending left to the test, and the real serial
// control.
ShellOptions testOptions(const QString& directory, MessageBox& messages);

// Waits for what a Stop measures off the window's thread and hands the
// window its reading, as the event loop would once it is done.
void waitForStopReport(ZelvarApplication& program);

// The whole program on the real serial control in `directory`, its message
// boxes recorded and its main window shown once loaded: where the end-to-end
// runs start from.
struct ShownProgram {
    explicit ShownProgram(const QString& directory) : program(testOptions(directory, messages)) {}

    // Form_Load, then the window shown; false when the load failed.
    bool load()
    {
        if (!program.Form_Load())
            return false;
        program.mainWindow().show();
        return true;
    }

    RecordingMessageBox messages;
    ZelvarApplication program;
};

// The whole program on the in-memory serial control, in a scratch program
// directory that holds both control files, with drive paths in a scratch
// folder and message boxes recorded instead of shown: where the tests of the
// windows start from.
class ProgramTest : public testing::Test {
protected:
    ProgramTest();

    // The program, not yet loaded; `adjust` may change its options first.
    std::unique_ptr<ZelvarApplication> makeProgram(const std::function<void(ShellOptions&)>& adjust = {});
    QString appFile(const char* name) const;

    QTemporaryDir appDir_;
    QTemporaryDir drives_;
    RecordingMessageBox messages_;
    // The serial control of the program made last.
    MemorySerialControl* comm_ = nullptr;
    // How often the program asked to end.
    int ended_ = 0;
};

} // namespace zelvar::testing_support
