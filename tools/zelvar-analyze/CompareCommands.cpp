#include "CompareCommands.h"

#include "ArchiveCommands.h"

#include "archive/RunArchive.h"
#include "platform/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <cmath>
#include <cstdio>
#include <exception>

namespace zelvar::analyze {

MotorLabel motorLabel(const std::optional<QString>& name, const std::optional<QString>& nameplateKv,
                      const std::optional<QString>& supplyText)
{
    MotorLabel label{name, std::nullopt, supplyText};
    if (nameplateKv) {
        const QString text = nameplateKv->trimmed();
        if (text.isEmpty()) {
            label.nameplateKv = std::optional<double>();
        } else {
            bool read = false;
            const double kv = QLocale::c().toDouble(text, &read);
            if (!read || !std::isfinite(kv) || kv <= 0.0)
                throw RuntimeError("--nameplate-kv: \"" + nameplateKv->toStdString()
                                   + "\" is not a Kv in RPM per volt above 0 (\"\" clears it)");
            label.nameplateKv = kv;
        }
    }
    return label;
}

archive::RunMotor relabelled(const archive::RunMotor& stored, const MotorLabel& label)
{
    archive::RunMotor motor = stored;
    if (label.name)
        motor.name = label.name->trimmed();
    if (label.nameplateKv)
        motor.nameplateKv = *label.nameplateKv;
    if (label.supplyText)
        motor.supplyText = label.supplyText->trimmed();
    return motor;
}

QString labelRunFolder(const QString& folder, const MotorLabel& label)
{
    const QString json = QDir::toNativeSeparators(QDir(folder).absoluteFilePath(QLatin1String(archive::kRunJsonName)));
    if (!archive::isRunFolder(folder))
        return QStringLiteral("--motor, --nameplate-kv and --supply-text label a run folder of the archive: \"%1\" "
                              "holds no run.json")
            .arg(QDir::toNativeSeparators(folder));
    try {
        const archive::RunMotor motor = relabelled(archive::readRunJson(folder).motor(), label);
        archive::setMotor(folder, motor);
        QString said = QStringLiteral("motor %1").arg(archive::motorName(motor));
        if (motor.nameplateKv)
            said += QStringLiteral(", nameplate Kv %1 RPM/V").arg(QLocale::c().toString(*motor.nameplateKv, 'g', 8));
        if (!motor.supplyText.isEmpty())
            said += QStringLiteral(", supply %1").arg(motor.supplyText);
        std::printf("%s: %s\n", qPrintable(json), qPrintable(said));
    } catch (const std::exception& e) {
        return QStringLiteral("the motor was not written into \"%1\": %2").arg(json, QString::fromStdString(e.what()));
    }
    return {};
}

QString writeComparison(const sets::RunComparison& comparison, bool table, const QString& jsonPath,
                        const QString& csvPath)
{
    if (table)
        std::printf("%s", sets::comparisonText(comparison).toUtf8().constData());
    for (const auto& [path, data] :
         {std::pair{jsonPath, sets::comparisonJson(comparison)}, std::pair{csvPath, sets::comparisonCsv(comparison)}}) {
        if (path.isEmpty())
            continue;
        if (const QString failure = analyze::writeOutputFile(path, data); !failure.isEmpty())
            return failure;
    }
    return {};
}

} // namespace zelvar::analyze
