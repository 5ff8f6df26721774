#include "platform/MainForm.h"
#include "platform/RuntimeError.h"

#include "MemoryMainForm.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using zelvar::MemoryMainForm;

TEST(MemoryMainForm, StartsAsTheWindowBeforeItsLoadStep)
{
    MemoryMainForm form;
    EXPECT_EQ(form.texts(), QStringList(9, QString()));
    EXPECT_EQ(form.Command1().caption(), "Start");
    EXPECT_EQ(form.Label2().caption(), "Now Ready");
    EXPECT_EQ(form.Combo1().count(), 0);
    EXPECT_EQ(form.Combo1().currentIndex(), -1);
    EXPECT_TRUE(form.Combo1().isEnabled());
}

TEST(MemoryMainForm, InsertingBeforeTheSelectionKeepsTheSelectedEntry)
{
    MemoryMainForm form;
    auto& list = form.Combo1();
    list.addItem("1");
    list.addItem("2");
    list.setCurrentIndex(1);
    list.insertItem(0, "3");
    EXPECT_EQ(list.currentIndex(), 2);
    EXPECT_EQ(list.itemText(list.currentIndex()), "2");
    EXPECT_EQ(list.text(), "2");
}

TEST(MemoryMainForm, TypedTextIsNotASelection)
{
    MemoryMainForm form;
    auto& list = form.Combo2();
    list.addItem("115200,N,8,1");
    list.setCurrentIndex(0);
    list.typeText("9600,N,8,1");
    EXPECT_EQ(list.text(), "9600,N,8,1");
    EXPECT_EQ(list.currentIndex(), 0);
}

TEST(MemoryMainForm, ControlsOutsideTheArraysAreRunTimeErrors)
{
    MemoryMainForm form;
    EXPECT_THROW(form.Text1(9), zelvar::RuntimeError);
    EXPECT_THROW(form.Text1(-1), zelvar::RuntimeError);
    EXPECT_THROW(form.Combo1().setCurrentIndex(0), zelvar::RuntimeError);
    EXPECT_THROW(form.Combo1().insertItem(1, "x"), zelvar::RuntimeError);
}
