#include "archive/RunJson.h"
#include "platform/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zelvar;
using namespace zelvar::archive;

namespace {

QString writeJson(const QTemporaryDir& dir, const QJsonObject& json)
{
    QFile file(dir.filePath("run.json"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(json).toJson());
    return dir.path();
}

TEST(RunJson, ALaterFormatIsRefusedWithAMessageNotRead)
{
    QTemporaryDir dir;
    const QString folder = writeJson(dir, {{"format", kRunJsonFormat + 1}, {"state", "stopped"}});
    try {
        readRunJson(folder);
        FAIL() << "a run.json of a later format was read";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("later version"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("run.json"), std::string::npos) << e.what();
    }
}

TEST(RunJson, KeysThisProgramDoesNotKnowSurviveAWrite)
{
    QTemporaryDir dir;
    const QString folder = writeJson(dir, {{"format", 1}, {"state", "stopped"}, {"written_later", "kept"}});
    RunJson run = readRunJson(folder);
    run.setNote("new magnets");
    writeRunJson(folder, run);
    const RunJson again = readRunJson(folder);
    EXPECT_EQ(again.note(), "new magnets");
    EXPECT_EQ(again.state(), Ending::Stopped);
    EXPECT_EQ(again.json().value("written_later").toString(), "kept");
}

TEST(RunJson, WhatIsNotKnownIsNullAndWhatIsNotWrittenIsAbsent)
{
    RunJson run = RunJson::started({QDateTime::currentDateTime(), 3, "/dev/ttyUSB0", "115200,N,8,1", "20", "1"}, "x");
    EXPECT_FALSE(run.json().contains("ended")) << "a run still recording has no end";
    EXPECT_FALSE(run.records().has_value());
    run.setRunFile({});
    run.setValues({std::nullopt, 240.0, "1500", "", {}, {}});
    EXPECT_TRUE(run.json().value("first_run_time_s").isNull());
    EXPECT_TRUE(run.json().value("flywheel_radius_mm").isNull());
    EXPECT_EQ(run.records(), 0);
    EXPECT_EQ(run.values().weightG, 240.0);
}

TEST(RunJson, GivesBackWhatStartWrote)
{
    const QDateTime started(QDate(2026, 3, 1), QTime(10, 0, 5));
    const RunJson run = RunJson::started({started, 3, "/dev/ttyUSB0", "115200,N,8,1", "20", "0.1.0"}, "Zelvar");
    const zelvar::archive::RunStart start = run.start();
    EXPECT_EQ(start.started, started);
    EXPECT_EQ(start.port, 3);
    EXPECT_EQ(start.device, "/dev/ttyUSB0");
    EXPECT_EQ(start.lineSettings, "115200,N,8,1");
    EXPECT_EQ(start.interval, "20");
    EXPECT_EQ(start.programVersion, "0.1.0");
    EXPECT_EQ(run.program(), "Zelvar");
}

} // namespace

namespace {

TEST(RunJson, FlywheelValuesTypedOverTheDynosAreMarkedAndKept)
{
    struct Case {
        RunValues values;
        const char* mark;
    };
    const Case cases[] = {
        {{50.0, 240.0, "", "", 30.0, 240.0}, "radius typed: 50 mm; dyno sent 30 mm"},
        {{30.0, 250.0, "", "", 30.0, 240.0}, "weight typed: 250 g; dyno sent 240 g"},
        {{30.0, 240.0, "", "", 30.0, 240.0}, ""},
        {{50.0, 240.0, "", "", std::nullopt, std::nullopt}, ""}, // no set-up frame came: nothing to compare
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.values.typedMark(), c.mark);
        RunJson run = RunJson::fromJson({}, "run.json");
        run.setValues(c.values);
        EXPECT_EQ(run.values().typedMark(), c.mark) << "kept in run.json";
        EXPECT_EQ(run.json().contains("dyno_flywheel_radius_mm"), c.values.dynoRadiusMm.has_value());
    }
}

} // namespace

namespace {

TEST(RunJsonMotor, WhatTheRunIsOfIsWrittenAtStartAndChangedAfterwards)
{
    QTemporaryDir dir;
    RunStart start{QDateTime::currentDateTime(), 3, "/dev/ttyUSB0", "115200,N,8,1", "20", "1"};
    start.motor = {" A2212 ", 1000.0, "3S LiPo"};
    writeRunJson(dir.path(), RunJson::started(start, "x"));
    RunJson run = readRunJson(dir.path());
    EXPECT_EQ(run.motor(), (RunMotor{"A2212", 1000.0, "3S LiPo"})) << "the name is kept without its blanks";
    EXPECT_EQ(run.json().value("nameplate_kv_rpm_per_v").toDouble(), 1000.0);
    run.setMotor({"A2212", std::nullopt, ""});
    writeRunJson(dir.path(), run);
    const RunJson again = readRunJson(dir.path());
    EXPECT_EQ(again.motor(), (RunMotor{"A2212", std::nullopt, ""}));
    EXPECT_TRUE(again.json().value("nameplate_kv_rpm_per_v").isNull()) << "a nameplate not known is null";
}

TEST(RunJsonMotor, ARunOfNoMotorNameCountsAsTheUnnamedMotor)
{
    QTemporaryDir dir;
    // A run.json written before runs said what they are of.
    const QString folder = writeJson(dir, {{"format", 2}, {"state", "stopped"}});
    const RunMotor motor = readRunJson(folder).motor();
    EXPECT_EQ(motor, RunMotor{});
    EXPECT_EQ(motorName(motor), "unnamed");
    EXPECT_EQ(motorName({"  ", std::nullopt, {}}), "unnamed");
    EXPECT_EQ(motorName({"A2212", std::nullopt, {}}), "A2212");
}

} // namespace
