#include "shell/UnattendedRun.h"

#include "run/RunController.h"
#include "session/RunSession.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <optional>

namespace zelvar {

namespace {

void report(const char* step, const NorvDynoData& window)
{
    std::fprintf(stderr, "zelvar-data: %s: %s: %s\n", step, qPrintable(window.label2Widget()->text()),
                 qPrintable(window.label2Widget()->toolTip()));
}

} // namespace

int runUnattended(ZelvarApplication& program, double seconds)
{
    NorvDynoData& window = program.mainWindow();
    int exitCode = 1;
    std::optional<RunOutcome> clicked;
    QObject::connect(program.session(), &session::RunSession::Command1_Done, &window,
                     [&](const RunOutcome& outcome) { clicked = outcome; });
    QTimer::singleShot(0, &window, [&] {
        window.command1Widget()->click();
        if (!clicked || !clicked->started()) {
            report("Start", window);
            QCoreApplication::exit(1);
            return;
        }
        QTimer::singleShot(std::chrono::milliseconds(qint64(seconds * 1000)), &window, [&] {
            // A run that already ended in "Error!" shows Start again.
            clicked.reset();
            if (window.isRunning())
                window.command1Widget()->click();
            if (clicked && clicked->reportWritten())
                exitCode = 0;
            else
                report("Stop", window);
            QCoreApplication::exit(exitCode);
        });
    });
    QApplication::exec();
    return exitCode;
}

} // namespace zelvar
