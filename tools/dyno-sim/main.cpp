// dyno-sim: a simulated dyno controller on a pseudo-terminal. main() only
// reads the command line; the Streamer runs the stream, and the model, the
// frames and the faults live in the dynosim library.

#include "tools/dyno-sim/SimOptions.h"
#include "tools/dyno-sim/Streamer.h"

#include <QCoreApplication>

#include <cstdio>

using namespace zelvar::dynosim;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dyno-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELVAR_VERSION));

    const ParseResult parsed = parseArguments(QCoreApplication::arguments());
    switch (parsed.action) {
    case ParseResult::Action::Help:
        std::fputs(qPrintable(parsed.text), stdout);
        return kOk;
    case ParseResult::Action::Version:
        std::printf("dyno-sim %s\n", ZELVAR_VERSION);
        return kOk;
    case ParseResult::Action::Error:
        std::fprintf(stderr, "dyno-sim: %s (see --help)\n", qPrintable(parsed.text));
        return kBadArguments;
    case ParseResult::Action::Run:
        break;
    }
    return Streamer(parsed.options).run();
}
