// zelvar-analyze: turns a recorded run file (Temp.dat) into the report
// (save.csv) exactly as the Stop button does, with the flywheel and ESC values
// given on the command line instead of the dyno's set-up frame. With --png it
// also draws the report's charts into an image, and with --sheet it writes
// the run sheet (several --dir: a comparison sheet), and with --map the
// motor's map of several runs, without a display. A run
// folder of the archive is analysed with the values its run.json holds, and
// its figures there are brought up to date; --list shows the archive.

#include "ArchiveCommands.h"
#include "CompareCommands.h"
#include "MapCommand.h"
#include "UnitOptions.h"

#include "archive/RunArchive.h"
#include "charts/ChartPlots.h"
#include "charts/RunSheet.h"
#include "charts/UnitChoice.h"
#include "curves/DisplayUnits.h"
#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "platform/NumberText.h"
#include "platform/RuntimeError.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "sets/ComparedRuns.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

using namespace zelvar;

namespace {

enum ExitCode { kOk = 0, kAnalysisFailed = 1, kBadArguments = 2 };

int fail(int code, const QString& message)
{
    std::fprintf(stderr, "zelvar-analyze: %s\n", qPrintable(message));
    return code;
}

// Charts need the widget toolkit; everything else runs without it, so the
// toolkit is only brought up (on the offscreen platform, which needs no
// display) when an image or a sheet is asked for.
bool wantsImage(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--png", "--sheet", "--map"}) {
            const std::size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0 && (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char* argv[])
{
    if (!wantsImage(argc, argv))
        return std::make_unique<QCoreApplication>(argc, argv);
#ifndef Q_OS_WIN
    // On Windows the offscreen platform reads fonts only from Qt's own
    // folder, which has none: there the windows platform draws the image,
    // with the system's fonts and without showing anything.
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    return std::make_unique<QApplication>(argc, argv);
}

QString noSuchSpinUp(std::size_t index, std::size_t count)
{
    return QStringLiteral("--spin-up %1: the run has %2 spin-ups").arg(index + 1).arg(count);
}

// The motor's figures of the report just written, for the spin-up asked for
// or the one chosen by default; none past the run's last spin-up, with the
// message in `failure`. Throws RuntimeError as the report reader does.
std::optional<curves::MotorFigures> measureReport(const QString& report, std::optional<std::size_t> spinUp,
                                                  QString& failure)
{
    curves::LoadRequest request;
    request.spinUp = spinUp;
    request.points = false;
    const curves::ReportCurves curves = curves::loadReport(report, request);
    if (spinUp && *spinUp >= curves.spinUps.size()) {
        failure = noSuchSpinUp(*spinUp, curves.spinUps.size());
        return std::nullopt;
    }
    return curves::measureMotor(curves);
}

// The motor's figures as --summary, --summary-json and --curves-csv ask. An
// empty string, or what could not be written.
QString writeFigures(const curves::MotorFigures& figures, bool table, const QString& jsonPath, const QString& csvPath)
{
    if (table)
        std::printf("%s", curves::summaryTable(figures, charts::shownUnits()).toUtf8().constData());
    for (const auto& [path, data] :
         {std::pair{jsonPath, curves::summaryJson(figures)}, std::pair{csvPath, curves::curvesCsv(figures)}}) {
        if (path.isEmpty())
            continue;
        if (const QString failure = analyze::writeOutputFile(path, data); !failure.isEmpty())
            return failure;
    }
    return {};
}

// Brings the figures in a run folder's run.json up to date and says so. An
// empty string, or why run.json was not written.
QString updateRunJson(const QString& folder, const curves::MotorFigures& figures)
{
    const QString json = QDir::toNativeSeparators(QDir(folder).absoluteFilePath(QLatin1String(archive::kRunJsonName)));
    try {
        archive::recordFigures(folder, figures);
    } catch (const RuntimeError& e) {
        return QStringLiteral("the figures were not written into \"%1\": %2")
            .arg(json, QString::fromStdString(e.what()));
    }
    std::printf("%s: figures updated\n", qPrintable(json));
    return {};
}

// --list: the runs archived in `dataDirectory`, newest first.
int listRuns(const QString& dataDirectory, analyze::ListFormat format)
{
    if (!QFileInfo(dataDirectory).isDir())
        return fail(kBadArguments, QStringLiteral("--list: \"%1\" is not a directory").arg(dataDirectory));
    const archive::Listing listing = archive::listRuns(dataDirectory);
    std::printf("%s", analyze::runTable(listing.runs, format).toUtf8().constData());
    for (const QString& problem : listing.problems)
        std::fprintf(stderr, "zelvar-analyze: warning: %s\n", qPrintable(problem));
    if (listing.runs.empty()) {
        const QString runs = QDir(dataDirectory).filePath(QLatin1String(archive::kFolderName));
        std::fprintf(stderr, "zelvar-analyze: no runs archived in %s\n", qPrintable(QDir::toNativeSeparators(runs)));
    }
    return kOk;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvar-analyze"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELVAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Analyses a recorded run again: reads Temp.dat and writes the report save.csv\n"
                       "(torque, output power, input power, efficiency per record, then the flywheel\n"
                       "and ESC values), as the Stop button does. The report is replaced only when\n"
                       "complete; after a failure the previous save.csv is left as it was.\n"
                       "With --png, the report's charts (torque, output power and efficiency against\n"
                       "RPM, raw and smoothed) are also drawn into a PNG image, and with --sheet the\n"
                       "run sheet is written as a one-page PDF; no display is needed. With --map\n"
                       "and --map-csv, the motor's map of the runs named by repeated --dir, at two\n"
                       "supply voltages or more.\n"
                       "When --dir is a run folder of the archive (DATA/runs/<started>, with its\n"
                       "run.json), the flywheel and ESC values left out are taken from its run.json,\n"
                       "and the motor's figures in run.json are brought up to date after the analysis.\n"
                       "With --compare and --dir repeated, compares the runs' figures: mean, spread,\n"
                       "drift and outliers. --motor, --nameplate-kv and --supply-text write what a run\n"
                       "folder is of into its run.json; alone, they leave its report as it is.\n"
                       "With --list DATA, lists the runs archived in the data directory DATA instead."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption radius(QStringLiteral("radius"),
                                    QStringLiteral("Flywheel radius in millimetres (required, unless the run "
                                                   "folder's run.json holds it)."),
                                    QStringLiteral("MM"));
    const QCommandLineOption weight(QStringLiteral("weight"),
                                    QStringLiteral(
                                        "Flywheel weight in grams (required, unless the run folder's run.json "
                                        "holds it)."),
                                    QStringLiteral("G"));
    const QCommandLineOption neutral(QStringLiteral("esc-neutral"),
                                     QStringLiteral("ESC neutral timing, written into the trailer as given (default: "
                                                    "the run folder's, else empty)."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption full(QStringLiteral("esc-full"),
                                  QStringLiteral("ESC full-throttle timing, written into the trailer as given "
                                                 "(default: the run folder's, else empty)."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Directory that holds Temp.dat and receives save.csv, or a run folder "
                                                "of the archive (default: the current directory). Repeated, the "
                                                "runs of a comparison sheet (--sheet alone)."),
                                 QStringLiteral("DIR"), QStringLiteral("."));
    const QCommandLineOption png(QStringLiteral("png"),
                                 QStringLiteral("Also draw the report's charts into FILE, a PNG image of %1 x %2 "
                                                "points, headed by the run's start, note and flywheel values.")
                                     .arg(charts::kReportImageSize.width())
                                     .arg(charts::kReportImageSize.height()),
                                 QStringLiteral("FILE"));
    const QCommandLineOption pngScale(QStringLiteral("png-scale"),
                                      QStringLiteral("Pixels per point of the --png image, from 0.5 to 8 (default: "
                                                     "%1, sharp on a high-resolution screen or on paper).")
                                          .arg(charts::kDefaultImageScale),
                                      QStringLiteral("SCALE"), QString::number(charts::kDefaultImageScale));
    const QCommandLineOption sheet(
        QStringLiteral("sheet"),
        QStringLiteral("Also write the run sheet to FILE, a one-page PDF: the run's start, duration, records, "
                       "port, line settings and ending, its note, the flywheel, its inertia and the ESC values, "
                       "the motor's figures and the loss fit, and the charts. With --dir repeated, a comparison "
                       "sheet of those runs (up to %1): their curves over each other and a table of their "
                       "figures with the mean and standard deviation.")
            .arg(charts::kMaxSheetRuns),
        QStringLiteral("FILE"));
    const QCommandLineOption mapImage(
        QStringLiteral("map"),
        QStringLiteral("Draw the motor's map into FILE, a PNG image: its efficiency over torque and RPM between the "
                       "supply voltages of the runs named by --dir (repeated; at least two supplies), from the "
                       "motor's model fitted over all their spin-ups, with contour lines, the measured lines and "
                       "the best-efficiency point of each supply. Each spin-up counts at the supply its records "
                       "show at its start."),
        QStringLiteral("FILE"));
    const QCommandLineOption mapCsvOption(
        QStringLiteral("map-csv"),
        QStringLiteral("Write the motor's map to FILE as CSV: rpm,torque_mNm,efficiency_pct, one row per grid "
                       "point, the efficiency empty outside the measured region."),
        QStringLiteral("FILE"));
    const QCommandLineOption paperOption(QStringLiteral("paper"),
                                         QStringLiteral("The --sheet's paper: \"a4\" (default) or \"letter\"."),
                                         QStringLiteral("SIZE"), QStringLiteral("a4"));
    const QCommandLineOption summary(QStringLiteral("summary"),
                                     QStringLiteral("Print the motor's figures after the analysis: Kv, R, I0, Kt, peak "
                                                    "torque, power and efficiency, each with its uncertainty, and "
                                                    "the rig's losses from the coast-down."));
    const QCommandLineOption summaryJson(QStringLiteral("summary-json"),
                                         QStringLiteral("Write the motor's figures to FILE as JSON."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption curvesCsv(QStringLiteral("curves-csv"),
                                       QStringLiteral("Write the spin-up's smoothed curves, uncorrected and "
                                                      "corrected for the rig's losses, to FILE as CSV."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption spinUpOption(
        QStringLiteral("spin-up"),
        QStringLiteral("The spin-up, counted from 1, that --png, --sheet, --summary, --summary-json and "
                       "--curves-csv describe (default: the longest one followed by a brake or a coast)."),
        QStringLiteral("N"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("List the runs archived in the data directory DATA (DATA/runs), "
                                                 "newest first: folder, start, duration, records, how the run "
                                                 "ended, note. Takes no other options but --list-format."),
                                  QStringLiteral("DATA"));
    const QCommandLineOption listFormat(QStringLiteral("list-format"),
                                        QStringLiteral("How --list prints: \"table\", columns aligned with two "
                                                       "blanks at least between them (default), or \"tsv\", "
                                                       "separated by tabs."),
                                        QStringLiteral("FORMAT"), QStringLiteral("table"));
    const QCommandLineOption motor(QStringLiteral("motor"),
                                   QStringLiteral("Write the motor's NAME into the run folder's run.json (every "
                                                  "--dir); runs without one count as one motor, \"unnamed\"."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption nameplateKv(QStringLiteral("nameplate-kv"),
                                         QStringLiteral("Write the motor's nameplate Kv in RPM per volt into the run "
                                                        "folder's run.json (\"\" clears it); the comparison sets "
                                                        "the measured Kv beside it."),
                                         QStringLiteral("KV"));
    const QCommandLineOption supplyText(QStringLiteral("supply-text"),
                                        QStringLiteral("Write what supplied the motor, such as \"3S LiPo\", into the "
                                                       "run folder's run.json."),
                                        QStringLiteral("TEXT"));
    const QCommandLineOption compare(QStringLiteral("compare"),
                                     QStringLiteral("Compare the runs named by repeated --dir: each run's figures "
                                                    "from its longest complete spin-up, their mean, standard "
                                                    "deviation, lowest and highest, a drift across the runs in "
                                                    "the order they ran, outliers, and Kv against the nameplate. "
                                                    "A run without a complete spin-up is listed but left out."));
    const QCommandLineOption compareJson(QStringLiteral("compare-json"),
                                         QStringLiteral("Write the comparison of the --dir runs to FILE as JSON."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption compareCsv(QStringLiteral("compare-csv"),
                                        QStringLiteral("Write the comparison of the --dir runs to FILE as CSV: a "
                                                       "line per run, then mean, sd, min, max, n, drift and "
                                                       "outliers, a column per figure."),
                                        QStringLiteral("FILE"));
    const QList<QCommandLineOption> analysisOptions{radius,      weight,      neutral,      full,        dir,
                                                    png,         pngScale,    sheet,        paperOption, summary,
                                                    summaryJson, curvesCsv,   spinUpOption, mapImage,    mapCsvOption,
                                                    motor,       nameplateKv, supplyText,   compare,     compareJson,
                                                    compareCsv};
    parser.addOptions(analysisOptions);
    parser.addOptions({list, listFormat});
    parser.addOptions(analyze::unitOptions());

    if (!parser.parse(QCoreApplication::arguments()))
        return fail(kBadArguments, parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(kOk);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(kBadArguments, QStringLiteral("unexpected argument \"%1\" (see --help)")
                                       .arg(parser.positionalArguments().constFirst()));
    // The tables' units, for the summary, the charts and the sheets alike.
    QString unitFailure;
    const std::optional<curves::DisplayUnits> units = analyze::chosenUnits(parser, unitFailure);
    if (!units)
        return fail(kBadArguments, unitFailure + QStringLiteral(" (see --help)"));
    charts::setShownUnits(*units);
    if (parser.isSet(list)) {
        const auto given = [&](const QCommandLineOption& o) { return parser.isSet(o); };
        if (std::any_of(analysisOptions.begin(), analysisOptions.end(), given))
            return fail(kBadArguments, QStringLiteral("--list takes no other options (see --help)"));
        const std::optional<analyze::ListFormat> format = analyze::listFormatFromText(parser.value(listFormat));
        if (!format)
            return fail(kBadArguments, QStringLiteral("--list-format: \"%1\" is neither \"table\" nor \"tsv\"")
                                           .arg(parser.value(listFormat)));
        return listRuns(parser.value(list), *format);
    }
    if (parser.isSet(listFormat))
        return fail(kBadArguments, QStringLiteral("--list-format goes with --list (see --help)"));
    std::optional<std::size_t> spinUp;
    if (parser.isSet(spinUpOption)) {
        bool ok = false;
        const uint n = parser.value(spinUpOption).toUInt(&ok);
        if (!ok || n == 0)
            return fail(kBadArguments, QStringLiteral("--spin-up: \"%1\" is not a spin-up number, 1 or more")
                                           .arg(parser.value(spinUpOption)));
        spinUp = n - 1;
    }
    bool scaleRead = false;
    const double imageScale = parser.value(pngScale).toDouble(&scaleRead);
    if (!scaleRead || imageScale < 0.5 || imageScale > 8.0)
        return fail(kBadArguments,
                    QStringLiteral("--png-scale: \"%1\" is not a scale from 0.5 to 8").arg(parser.value(pngScale)));
    const bool mapping = parser.isSet(mapImage) || parser.isSet(mapCsvOption);
    if (parser.isSet(pngScale) && !parser.isSet(png) && !parser.isSet(mapImage))
        return fail(kBadArguments, QStringLiteral("--png-scale goes with --png or --map (see --help)"));
    std::optional<charts::Paper> paper = charts::paperFromText(parser.value(paperOption));
    if (!paper)
        return fail(kBadArguments,
                    QStringLiteral("--paper: \"%1\" is neither \"a4\" nor \"letter\"").arg(parser.value(paperOption)));
    if (parser.isSet(paperOption) && !parser.isSet(sheet))
        return fail(kBadArguments, QStringLiteral("--paper goes with --sheet (see --help)"));
    // Several runs are named by repeating --dir; they make a comparison
    // sheet or a motor's map, and nothing else takes more than one.
    const QStringList directories = parser.values(dir);
    const bool comparing = parser.isSet(compare) || parser.isSet(compareJson) || parser.isSet(compareCsv);
    if (comparing && parser.isSet(spinUpOption))
        return fail(kBadArguments, QStringLiteral("--compare takes each run's longest complete spin-up, not "
                                                  "--spin-up (see --help)"));
    analyze::MotorLabel label;
    try {
        const auto textOf = [&](const QCommandLineOption& o) {
            return parser.isSet(o) ? std::optional<QString>(parser.value(o)) : std::nullopt;
        };
        label = analyze::motorLabel(textOf(motor), textOf(nameplateKv), textOf(supplyText));
    } catch (const RuntimeError& e) {
        return fail(kBadArguments, QString::fromStdString(e.what()));
    }
    // Only labelling: the runs' reports are left as they are.
    const bool labelOnly = label.given() && !comparing
                        && std::none_of(analysisOptions.begin(), analysisOptions.end(),
                                        [&](const QCommandLineOption& o) {
                                            return o.names() != dir.names() && o.names() != motor.names()
                                                && o.names() != nameplateKv.names() && o.names() != supplyText.names()
                                                && parser.isSet(o);
                                        });
    if (directories.size() > 1 && !labelOnly) {
        if ((!parser.isSet(sheet) && !comparing && !mapping) || parser.isSet(png) || parser.isSet(summary)
            || parser.isSet(summaryJson) || parser.isSet(curvesCsv))
            return fail(kBadArguments, QStringLiteral("several --dir make a comparison sheet, a comparison or a "
                                                      "motor's map: they go with --sheet, --compare, --compare-json, "
                                                      "--compare-csv, --map and --map-csv, without --png, --summary, "
                                                      "--summary-json and --curves-csv (see --help)"));
        if (parser.isSet(sheet) && directories.size() > static_cast<qsizetype>(charts::kMaxSheetRuns))
            return fail(kBadArguments, QStringLiteral("a comparison sheet holds at most %1 runs, not %2")
                                           .arg(charts::kMaxSheetRuns)
                                           .arg(directories.size()));
    }
    for (const QString& directory : directories) {
        if (!QFileInfo(directory).isDir())
            return fail(kBadArguments, QStringLiteral("--dir: \"%1\" is not a directory").arg(directory));
    }
    if (label.given()) {
        for (const QString& directory : directories) {
            if (const QString failure = analyze::labelRunFolder(directory, label); !failure.isEmpty())
                return fail(kAnalysisFailed, failure);
        }
        if (labelOnly)
            return kOk;
    }
    const auto givenText = [&](const QCommandLineOption& o) {
        return parser.isSet(o) ? std::optional<QString>(parser.value(o)) : std::nullopt;
    };
    // Looking at a run folder's figures, charts or sheet leaves it as it is
    // while its report is current: only a missing report, or values other
    // than those its run.json holds, make the analysis run again.
    const bool looking = parser.isSet(summary) || parser.isSet(summaryJson) || parser.isSet(curvesCsv)
                      || parser.isSet(png) || parser.isSet(sheet) || mapping || comparing;
    const bool showProgress = isatty(fileno(stderr)) != 0;

    // Each directory's report brought up to date, and with a run folder its
    // figures: `report` is its path, `figures` what was measured on the way.
    const auto prepare = [&](const QString& directory, QString& report, bool& runFolder,
                             std::optional<curves::MotorFigures>& figures) -> int {
        // A run folder of the archive fills in the values left out, as the
        // run's own boxes held them.
        runFolder = archive::isRunFolder(directory);
        const QString runJson = runFolder ? QDir::toNativeSeparators(
                                    QDir(directory).filePath(QLatin1String(archive::kRunJsonName)))
                                          : QString();
        archive::RunValues stored;
        if (runFolder) {
            try {
                stored = archive::readRunJson(directory).values();
            } catch (const RuntimeError& e) {
                return fail(kAnalysisFailed, QString::fromStdString(e.what()));
            }
        }
        FlywheelAndEsc values{{},
                              {},
                              givenText(neutral).value_or(stored.escNeutral),
                              givenText(full).value_or(stored.escFull)};
        try {
            values.radiusMm = analyze::flywheelValue(QStringLiteral("radius"), givenText(radius), stored.radiusMm,
                                                     runJson);
            values.weightG = analyze::flywheelValue(QStringLiteral("weight"), givenText(weight), stored.weightG,
                                                    runJson);
        } catch (const RuntimeError& e) {
            return fail(kBadArguments, QString::fromStdString(e.what()));
        }
        report = QDir(directory).absoluteFilePath(QLatin1String(runfiles::kReportFileName));
        const bool lookOnly = runFolder && looking && QFileInfo::exists(report) && !analyze::differ(values, stored);
        if (lookOnly)
            return kOk;
        SequentialFiles files;
        RunAnalyzer analyzer(files, QDir(directory).absolutePath());
        if (showProgress) {
            analyzer.setProgress([](std::int64_t records) {
                std::fprintf(stderr, "\ranalysed %lld records", static_cast<long long>(records));
            });
        }
        const std::int64_t records = analyzer.analyze(values);
        if (showProgress)
            std::fprintf(stderr, "\r\033[K");
        std::printf("%s: %lld records\n", qPrintable(QDir::toNativeSeparators(report)),
                    static_cast<long long>(records));
        // The run folder's figures follow its report before anything else
        // is drawn or written, so that the two never disagree for long.
        if (runFolder) {
            QString failure;
            figures = measureReport(report, spinUp, failure);
            if (!figures)
                return fail(kBadArguments, failure);
            failure = updateRunJson(directory, *figures);
            if (!failure.isEmpty())
                return fail(kAnalysisFailed, failure);
        }
        return kOk;
    };
    // A report read as the chart window reads it: the points thinned on the
    // way, whatever the run's length; none past the last spin-up.
    const auto loadForCharts = [&](const QString& report, QString& failure) -> std::optional<curves::ReportCurves> {
        curves::LoadRequest request;
        request.spinUp = spinUp;
        curves::ReportCurves drawn = curves::loadReport(report, request);
        if (spinUp && *spinUp >= drawn.spinUps.size()) {
            failure = noSuchSpinUp(*spinUp, drawn.spinUps.size());
            return std::nullopt;
        }
        return drawn;
    };

    try {
        if (parser.isSet(sheet)) {
            std::vector<charts::SheetRun> runs;
            for (const QString& directory : directories) {
                QString report, failure;
                bool runFolder = false;
                std::optional<curves::MotorFigures> figures;
                if (const int code = prepare(directory, report, runFolder, figures); code != kOk)
                    return code;
                std::optional<curves::ReportCurves> drawn = loadForCharts(report, failure);
                if (!drawn)
                    return fail(kBadArguments, failure);
                curves::MotorFigures measured = curves::measureMotor(*drawn);
                runs.push_back({std::move(*drawn), std::move(measured), report, runFolder ? directory : QString()});
            }
            const QString path = parser.value(sheet);
            const QString failure = charts::writeRunSheet(path, runs, *paper);
            if (!failure.isEmpty())
                return fail(kAnalysisFailed, failure);
            std::printf("%s: %s\n", qPrintable(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
                        runs.size() == 1 ? "run sheet"
                                         : qPrintable(QStringLiteral("comparison sheet of %1 runs").arg(runs.size())));
        }
        if (mapping) {
            std::vector<analyze::MapRun> runs;
            for (const QString& directory : directories) {
                QString report;
                bool runFolder = false;
                std::optional<curves::MotorFigures> figures;
                if (parser.isSet(sheet)) {
                    report = QDir(directory).absoluteFilePath(QLatin1String(runfiles::kReportFileName));
                } else if (const int code = prepare(directory, report, runFolder, figures); code != kOk) {
                    return code;
                }
                runs.push_back({report, QFileInfo(QDir(directory).absolutePath()).fileName()});
            }
            const QString failure = analyze::writeMotorMap(runs, parser.value(mapImage), imageScale,
                                                           parser.value(mapCsvOption));
            if (!failure.isEmpty())
                return fail(kAnalysisFailed, failure);
        }
        if (comparing) {
            // Each report brought up to date first, as for the sheet.
            for (const QString& directory : parser.isSet(sheet) ? QStringList() : directories) {
                QString report;
                bool runFolder = false;
                std::optional<curves::MotorFigures> figures;
                if (const int code = prepare(directory, report, runFolder, figures); code != kOk)
                    return code;
            }
            const QString failure = analyze::writeComparison(sets::compareFolders(directories), parser.isSet(compare),
                                                             parser.value(compareJson), parser.value(compareCsv));
            if (!failure.isEmpty())
                return fail(kAnalysisFailed, failure);
            if (directories.size() > 1)
                return kOk;
        }
        const QString directory = directories.constFirst();
        QString report, failure;
        bool runFolder = false;
        std::optional<curves::MotorFigures> figures;
        if (!parser.isSet(sheet) && !mapping) {
            if (const int code = prepare(directory, report, runFolder, figures); code != kOk)
                return code;
        } else {
            // Prepared for the sheet or the map: its report is current.
            report = QDir(directory).absoluteFilePath(QLatin1String(runfiles::kReportFileName));
            runFolder = archive::isRunFolder(directory);
        }
        if (parser.isSet(png)) {
            const QString image = parser.value(png);
            std::optional<curves::ReportCurves> drawn = loadForCharts(report, failure);
            if (!drawn)
                return fail(kBadArguments, failure);
            // A run is named by its folder, its start.
            if (runFolder)
                drawn->name = QFileInfo(QDir(directory).absolutePath()).fileName();
            const charts::RunHeading heading = charts::runHeading(drawn->name, report,
                                                                  runFolder ? directory : QString());
            if (!charts::saveReportCharts(image, *drawn, {}, heading, imageScale))
                return fail(kAnalysisFailed, QStringLiteral("cannot write the image \"%1\"").arg(image));
            const QString which = drawn->spinUp && drawn->spinUps.size() > 1 ? QStringLiteral(" (%1)").arg(
                                      curves::describeSpinUp(drawn->spinUps, *drawn->spinUp))
                                                                             : QString();
            std::printf("%s: charts%s\n", qPrintable(QDir::toNativeSeparators(QFileInfo(image).absoluteFilePath())),
                        qPrintable(which));
        }
        if (parser.isSet(summary) || parser.isSet(summaryJson) || parser.isSet(curvesCsv)) {
            if (!figures)
                figures = measureReport(report, spinUp, failure);
            if (figures)
                failure = writeFigures(*figures, parser.isSet(summary), parser.value(summaryJson),
                                       parser.value(curvesCsv));
            if (!failure.isEmpty())
                return fail(kAnalysisFailed, failure);
        }
        return kOk;
    } catch (const std::exception& e) {
        if (showProgress)
            std::fprintf(stderr, "\n");
        return fail(kAnalysisFailed, QString::fromStdString(e.what()));
    }
}
