#pragma once

#include "charts/ChartPlots.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"

#include <QFont>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace zelvar::charts {

// The run sheet: one page that a user hands on, with the run's conditions,
// the motor's figures and the curves; or, for several runs, a comparison
// sheet with their curves over each other and their figures side by side
// with the mean and standard deviation across them, and on a second page the
// motor's map where the runs span two supply voltages or more. A vector PDF, its text
// real text in embedded fonts, made without a print dialog.

enum class Paper { A4, Letter };
// "a4" or "letter", in any case; none for anything else.
std::optional<Paper> paperFromText(const QString& text);

// One run on a sheet: its report read for the charts (the points thinned),
// the motor's figures measured on it, the report's path, and the run folder
// it is in (empty for a report outside the archive).
struct SheetRun {
    curves::ReportCurves curves;
    curves::MotorFigures figures;
    QString reportPath;
    QString folder;
};

// A comparison sheet holds as many runs as the charts have colours for.
inline constexpr std::size_t kMaxSheetRuns = 1 + kMaxOverlays;

// Every page of a sheet keeps this margin, in its pixels of 1/96 inch.
inline constexpr int kSheetMargin = 40;
// The sheets' font, sized in those pixels.
QFont sheetFont(int pixels, bool bold = false);

// What the sheet says about a run besides its figures and curves, as
// label and value: the run (folder, start, duration, records, port and
// device, line settings, how it ended, the note) and the rig (flywheel,
// inertia, ESC values, interval, values typed over the dyno's). What is not
// known is left out, and a run.json that cannot be read says so.
struct SheetFacts {
    QString name;  // the folder's name, else the report file's
    QString label; // for legends: the note, else the start, else the name
    std::vector<std::pair<QString, QString>> run;
    std::vector<std::pair<QString, QString>> rig;
    QString spinUp; // the spin-up drawn, or that there is none
};
SheetFacts sheetFacts(const SheetRun& run);

// The name a sheet gets unless the user gives another: the run folder's,
// else the report file's, with "-sheet.pdf"; "comparison-sheet.pdf" for
// several runs.
QString sheetFileName(const QString& reportPath, const QString& folder, std::size_t runs = 1);

// Writes the sheet of `runs` to `path`: the run sheet of a single run, a
// comparison sheet of several (up to kMaxSheetRuns). Empty, or why nothing
// was written. Needs a QApplication (the offscreen platform will do).
QString writeRunSheet(const QString& path, const std::vector<SheetRun>& runs, Paper paper = Paper::A4);

} // namespace zelvar::charts
