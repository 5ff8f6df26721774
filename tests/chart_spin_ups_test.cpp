// The chart window and the spin-ups of one run: listed, the longest complete
// one drawn, another picked from the list, and one drawn over another.

#include "ChartReadings.h"
#include "charts/ChartWindow.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "session/LiveTrace.h"

#include "Files.h"
#include "PlotContents.h"
#include "SyntheticRuns.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QTemporaryDir>

using namespace zelvar;

namespace {

class ChartSpinUps : public testing::Test {
protected:
    void SetUp() override
    {
        testing_support::writeAll(dir_.filePath("Temp.dat"), testing_support::runOfSpinUps({3.0, 5.0, 4.0}));
        SequentialFiles files;
        RunAnalyzer(files, dir_.path()).analyze({Decimal(30), Decimal(240), QString(), QString()});
        window_ = std::make_unique<ChartWindow>(trace_, ChartWindowOptions{dir_.path(), {}});
        window_->showReport(dir_.filePath("save.csv"));
        ASSERT_TRUE(testing_support::waitForReadings(*window_));
        ASSERT_TRUE(window_->report()) << window_->status().toStdString();
    }

    QStringList listed() const
    {
        QStringList items;
        const auto* list = window_->findChild<QComboBox*>("SpinUpList");
        for (int i = 0; list && i < list->count(); ++i)
            items << list->itemText(i);
        return items;
    }

    QTemporaryDir dir_;
    session::LiveTrace trace_;
    std::unique_ptr<ChartWindow> window_;
};

TEST_F(ChartSpinUps, TheListNamesEveryOneAndTheLongestIsDrawn)
{
    const QStringList items = listed();
    ASSERT_EQ(items.size(), 3) << items.join(" | ").toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(items[i].startsWith(QStringLiteral("spin-up %1 of 3: ").arg(i + 1))) << items[i].toStdString();
    ASSERT_TRUE(window_->report() && window_->report()->spinUp);
    EXPECT_EQ(*window_->report()->spinUp, 1u) << "the 5 s one";
    EXPECT_EQ(window_->findChild<QComboBox*>("SpinUpList")->currentIndex(), 1);
    EXPECT_TRUE(testing_support::titleOf(window_->torquePowerChart()).contains("spin-up 2 of 3"))
        << testing_support::titleOf(window_->torquePowerChart()).toStdString();
}

TEST_F(ChartSpinUps, APickedSpinUpIsSmoothedAndDrawnInstead)
{
    const std::size_t before = window_->report()->smoothed->points.size();
    ASSERT_TRUE(window_->showSpinUp(0)) << window_->status().toStdString();
    ASSERT_TRUE(testing_support::waitForReadings(*window_));
    ASSERT_TRUE(window_->report()->smoothed);
    EXPECT_EQ(*window_->report()->spinUp, 0u);
    EXPECT_LT(window_->report()->smoothed->points.size(), before) << "3 s against 5 s of records";
    EXPECT_TRUE(testing_support::titleOf(window_->torquePowerChart()).contains("spin-up 1 of 3"));
    EXPECT_FALSE(window_->showSpinUp(3));
    EXPECT_EQ(*window_->report()->spinUp, 0u) << "a spin-up past the last changes nothing";
}

TEST_F(ChartSpinUps, SeveralSpinUpsOfTheRunAreDrawnOverIt)
{
    ASSERT_TRUE(window_->addSpinUpOverlay(0)) << window_->status().toStdString();
    ASSERT_TRUE(window_->addSpinUpOverlay(2)) << window_->status().toStdString();
    ASSERT_TRUE(testing_support::waitForReadings(*window_));
    ASSERT_EQ(window_->overlays().size(), 2u);
    EXPECT_EQ(window_->overlays()[0].name, "save.csv, spin-up 1");
    EXPECT_EQ(window_->overlays()[1].name, "save.csv, spin-up 3");
    EXPECT_FALSE(window_->overlays()[1].thinned) << "an overlay draws no points";
    const QStringList names = testing_support::plottableNames(window_->torquePowerChart());
    EXPECT_TRUE(names.contains("save.csv, spin-up 3")) << names.join(" | ").toStdString();
}

} // namespace
