#pragma once

// What poppler's pdfinfo and pdftotext read from a PDF, for the tests of
// the run sheet: they see the file as any PDF reader would. Header only.

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace zelvar::testing_support {

// Why PDFs cannot be read here; empty when pdfinfo and pdftotext are found.
inline QString missingPdfTools()
{
    for (const char* tool : {"pdfinfo", "pdftotext"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (poppler-utils; scripts/setup-debian.sh installs it)")
                .arg(QString::fromLatin1(tool));
    }
    return {};
}

// The output of `tool arguments... path`, or "<tool failed: ...>" so that
// a comparison fails naming the tool.
inline QString pdfToolOutput(const QString& tool, QStringList arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(tool, QString::fromUtf8(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// "Pages: 1", "Page size: 595 x 842 pts (A4)"... as pdfinfo prints them.
inline QString pdfInfo(const QString& path)
{
    return pdfToolOutput(QStringLiteral("pdfinfo"), {path});
}

// The page's text in reading order, one run of words a line.
inline QString pdfText(const QString& path)
{
    return pdfToolOutput(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
}

} // namespace zelvar::testing_support
