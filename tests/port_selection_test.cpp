#include "link/PortSelection.h"
#include "platform/MainForm.h"
#include "platform/SerialControl.h"

#include "MemoryMainForm.h"
#include "MemorySerialControl.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace zelvar;

namespace {

class PortSelectionTest : public testing::Test {
protected:
    PortSelectionTest() { ports_.setUpLists(); }

    PickOutcome pick(MemoryMainForm::List& list, int index, PickOutcome (PortSelection::*handler)())
    {
        list.setCurrentIndex(index);
        comm_.clearLog();
        return (ports_.*handler)();
    }

    MemorySerialControl comm_;
    MemoryMainForm form_;
    PortSelection ports_{form_, comm_};
};

TEST_F(PortSelectionTest, StartUpFillsBothListsAndAppliesTheirFirstEntries)
{
    QStringList ports;
    for (int i = 0; i < form_.Combo1().count(); ++i)
        ports << form_.Combo1().itemText(i);
    EXPECT_EQ(ports, QStringList(
                         {"3", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}));
    QStringList settings;
    for (int i = 0; i < form_.Combo2().count(); ++i)
        settings << form_.Combo2().itemText(i);
    EXPECT_EQ(settings, QStringList({"115200,N,8,1", "57600,N,8,1", "19200,N,8,1", "9600,N,8,1", "4800,N,8,1"}));
    EXPECT_EQ(form_.Combo1().text(), "3");
    EXPECT_EQ(form_.Combo2().text(), "115200,N,8,1");
    EXPECT_EQ(comm_.log(), QStringList({"CommPort=3", "Settings=115200,N,8,1"}));
    EXPECT_FALSE(comm_.PortOpen());
}

TEST_F(PortSelectionTest, APickWhileClosedAppliesOnlyItsOwnValue)
{
    pick(form_.Combo1(), 16, &PortSelection::Combo1_Click);
    EXPECT_EQ(comm_.log(), QStringList({"CommPort=16"}));
    pick(form_.Combo2(), 3, &PortSelection::Combo2_Click);
    EXPECT_EQ(comm_.log(), QStringList({"Settings=9600,N,8,1"}));
    pick(form_.Combo1(), 3, &PortSelection::Combo1_Click);
    EXPECT_EQ(comm_.log(), QStringList({"CommPort=3"})) << "index 3 is port 3 again";
    EXPECT_EQ(comm_.CommPort(), 3);
    EXPECT_EQ(comm_.Settings(), "9600,N,8,1");
    EXPECT_FALSE(comm_.PortOpen());
}

TEST_F(PortSelectionTest, APickWhileOpenClosesAppliesAndReopens)
{
    comm_.setPortOpen(true);
    pick(form_.Combo1(), 5, &PortSelection::Combo1_Click);
    EXPECT_EQ(comm_.log(), QStringList({"PortOpen=False", "CommPort=5", "PortOpen=True"}));
    pick(form_.Combo2(), 4, &PortSelection::Combo2_Click);
    EXPECT_EQ(comm_.log(), QStringList({"PortOpen=False", "Settings=4800,N,8,1", "PortOpen=True"}));
    EXPECT_EQ(comm_.openedSettings().baudRate, 4800);
    EXPECT_EQ(comm_.CommPort(), 5);
}

TEST_F(PortSelectionTest, TypedTextIsNotApplied)
{
    form_.Combo1().typeText("7");
    EXPECT_EQ(comm_.CommPort(), 3);
    comm_.setPortOpen(true);
    EXPECT_EQ(comm_.openedDevice(), portDeviceName(3));
}

TEST_F(PortSelectionTest, AFailedReopenShowsErrorAndLeavesThePortClosed)
{
    comm_.setPortOpen(true);
    comm_.setPortMissing(9);
    const PickOutcome refused = pick(form_.Combo1(), 9, &PortSelection::Combo1_Click);
    EXPECT_EQ(form_.Label2().caption(), "Error!");
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_TRUE(form_.Combo1().isEnabled());
    EXPECT_FALSE(refused.applied());
    // The lists stay usable: the next pick applies.
    const PickOutcome applied = pick(form_.Combo1(), 2, &PortSelection::Combo1_Click);
    EXPECT_EQ(comm_.CommPort(), 2);
    EXPECT_TRUE(applied.applied()) << "a pick that worked has no reason to give: " << applied.reason.toStdString();
}

TEST(PortSelectionRules, NumericValueReadsTheLeadingDigits)
{
    const std::pair<const char*, int> cases[] = {{"3", 3}, {"16", 16}, {"07", 7}, {"12abc", 12},
                                                 {"", 0},  {"x1", 0},  {" 4", 0}, {"99999999999999", 999999999}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(PortSelection::numericValue(text), value) << "\"" << text << "\"";
}

} // namespace
