#pragma once

// What zelvar-analyze does with the run archive: a run folder analysed again
// with the flywheel and ESC values its run.json holds, and the list of the
// archived runs.

#include "archive/RunArchive.h"
#include "platform/Decimal.h"
#include "run/RunAnalyzer.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace zelvar::analyze {

// Writes `data` to the file at `path` whole; empty, or what went wrong,
// naming the file.
QString writeOutputFile(const QString& path, const QByteArray& data);

// The value of --radius or --weight (`option`, without the dashes): its text
// when given, else the number a run folder's run.json holds (`runJson` is
// that file, empty outside a run folder). Throws RuntimeError with the
// message for the operator: which option is missing, and that the run.json
// lacks it too, or why the text is no number.
Decimal flywheelValue(const QString& option, const std::optional<QString>& given, std::optional<double> stored,
                      const QString& runJson);

// Whether the values an analysis takes differ from those a run folder's
// run.json holds: then its report is not the one they give.
bool differ(const FlywheelAndEsc& values, const archive::RunValues& stored);

// How --list prints the runs.
enum class ListFormat {
    Table, // columns padded with blanks for a terminal, two at least between them
    Tsv,   // one tab between the fields
};
std::optional<ListFormat> listFormatFromText(const QString& text);

// A line of the list, one field a column: the folder's name, when the run
// started (local time), how long it took, its records, how it ended, and its
// note on one line. "-" for what is not known.
QStringList runFields(const archive::RunSummary& run);
QStringList listHeader();
// The header and a line per run, in the order given; every line ends in "\n".
QString runTable(const std::vector<archive::RunSummary>& runs, ListFormat format);

} // namespace zelvar::analyze
