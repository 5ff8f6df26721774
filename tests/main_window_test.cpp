// The main window driven as the operator drives it: layout, focus order,
// the events it raises and the MainForm surface the handlers use.

#include "platform/RuntimeError.h"
#include "shell/NorvDynoData.h"

#include "CaseNames.h"
#include "MemoryMainForm.h"
#include "QtPrinters.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

inline void PrintTo(const QRect& rect, std::ostream* os)
{
    *os << "QRect(" << rect.x() << ", " << rect.y() << ", " << rect.width() << " x " << rect.height() << ")";
}

inline void PrintTo(const QSize& size, std::ostream* os)
{
    *os << size.width() << " x " << size.height();
}

namespace {

using zelvar::NorvDynoData;

QStringList namesOf(const std::vector<QWidget*>& widgets)
{
    QStringList names;
    for (const QWidget* widget : widgets)
        names << (widget ? widget->objectName() : QStringLiteral("<none>"));
    return names;
}

// ---------------------------------------------------------------------------
// Layout, as the window is drawn in twips: tests/data/main_window_layout.csv
// holds the design's table, and every control of it is its own test.

using Kind = NorvDynoData::Kind;

struct ExpectedControl {
    std::string name; // the object name: "Text1_4" for Text1(4)
    Kind kind;
    int left;
    int top;
    int width;
    int height;
    int tabIndex;
    std::string text;
};

void PrintTo(const ExpectedControl& control, std::ostream* os)
{
    *os << control.name;
}

struct LayoutFile {
    std::vector<ExpectedControl> controls;
    std::vector<std::string> errors;
};

LayoutFile readLayoutFile()
{
    const std::string path = ZELVAR_TEST_DATA_DIR "/main_window_layout.csv";
    const std::map<std::string, Kind> kinds = {{"text box", Kind::TextBox},
                                               {"label", Kind::Label},
                                               {"combo box", Kind::ComboBox},
                                               {"button", Kind::Button}};
    LayoutFile file;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line))
        file.errors.push_back("cannot read " + path);
    // control,index,kind,left,top,width,height,tab_index,text
    while (std::getline(in, line)) {
        std::vector<std::string> field;
        std::stringstream row(line);
        for (std::string item; std::getline(row, item, ',');)
            field.push_back(item);
        if (!line.empty() && line.back() == ',')
            field.emplace_back();
        const auto kind = field.size() == 9 ? kinds.find(field[2]) : kinds.end();
        if (kind == kinds.end()) {
            file.errors.push_back("not a control: \"" + line + "\"");
            continue;
        }
        const std::string name = field[1].empty() ? field[0] : field[0] + "_" + field[1];
        file.controls.push_back({name, kind->second, std::stoi(field[3]), std::stoi(field[4]), std::stoi(field[5]),
                                 std::stoi(field[6]), std::stoi(field[7]), field[8]});
    }
    return file;
}

const LayoutFile& layoutFile()
{
    static const LayoutFile file = readLayoutFile();
    return file;
}

// The controls that take the focus, in tab index order.
QStringList focusOrder()
{
    std::vector<ExpectedControl> focusable;
    std::ranges::copy_if(layoutFile().controls, std::back_inserter(focusable),
                         [](const ExpectedControl& control) { return control.kind != Kind::Label; });
    std::ranges::sort(focusable, {}, &ExpectedControl::tabIndex);
    QStringList names;
    for (const ExpectedControl& control : focusable)
        names << QString::fromStdString(control.name);
    return names;
}

std::string describe(Kind kind, const std::string& text, int left, int top, int width, int height, int tabIndex)
{
    std::ostringstream out;
    out << "kind " << static_cast<int>(kind) << ", \"" << text << "\" at " << left << ", " << top << ", " << width
        << " x " << height << " twips, tab index " << tabIndex;
    return out.str();
}

int pixels(int twips)
{
    return static_cast<int>(std::lround(twips / double(NorvDynoData::kTwipsPerPixel)));
}

QRect pixelRect(const ExpectedControl& control)
{
    return {pixels(control.left), pixels(control.top), pixels(control.width), pixels(control.height)};
}

// The text a control shows, whatever its kind; a null string when the
// control is not of the expected kind.
QString shownText(const QWidget* widget, Kind kind)
{
    switch (kind) {
    case Kind::TextBox:
        if (auto* edit = qobject_cast<const QLineEdit*>(widget))
            return edit->text();
        break;
    case Kind::Label:
        if (auto* label = qobject_cast<const QLabel*>(widget))
            return label->text();
        break;
    case Kind::ComboBox:
        if (auto* combo = qobject_cast<const QComboBox*>(widget))
            return combo->currentText();
        break;
    case Kind::Button:
        if (auto* button = qobject_cast<const QPushButton*>(widget))
            return button->text();
        break;
    }
    return {};
}

TEST(MainWindowLayoutFile, HoldsEveryControlOfTheWindow)
{
    for (const std::string& error : layoutFile().errors)
        ADD_FAILURE() << error;
    EXPECT_EQ(layoutFile().controls.size(), NorvDynoData::layout().size());
}

class MainWindowLayout : public testing::TestWithParam<ExpectedControl> {
protected:
    NorvDynoData window;
};

TEST_P(MainWindowLayout, TheWindowsOwnTableHasTheControlAsDesigned)
{
    const ExpectedControl& expected = GetParam();
    const auto table = NorvDynoData::layout();
    const auto entry = std::ranges::find(table, expected.name, &NorvDynoData::Placement::name);
    ASSERT_NE(entry, table.end()) << "the window's layout table has no " << expected.name;
    EXPECT_EQ(describe(entry->kind, entry->text, entry->left, entry->top, entry->width, entry->height, entry->tabIndex),
              describe(expected.kind, expected.text, expected.left, expected.top, expected.width, expected.height,
                       expected.tabIndex))
        << expected.name;
}

TEST_P(MainWindowLayout, ControlHasItsKindCaptionAndPlace)
{
    const ExpectedControl& expected = GetParam();
    const auto* widget = window.findChild<QWidget*>(QString::fromStdString(expected.name), Qt::FindDirectChildrenOnly);
    ASSERT_NE(widget, nullptr) << "no control named " << expected.name;

    const QString text = shownText(widget, expected.kind);
    ASSERT_FALSE(text.isNull()) << expected.name << " is a " << widget->metaObject()->className()
                                << ", not the expected kind";
    EXPECT_EQ(text, QString::fromStdString(expected.text)) << expected.name;
    EXPECT_EQ(widget->geometry(), pixelRect(expected))
        << expected.name << " at " << expected.left << ", " << expected.top << " twips, " << expected.width << " x "
        << expected.height << " twips";
    EXPECT_TRUE(widget->isVisibleTo(&window)) << expected.name;
}

INSTANTIATE_TEST_SUITE_P(EveryControl, MainWindowLayout, testing::ValuesIn(layoutFile().controls),
                         zelvar::testing_support::CaseName());

TEST(MainWindow, HasExactlyTheControlsOfItsLayout)
{
    NorvDynoData window;
    std::set<std::string> expected;
    for (const ExpectedControl& control : layoutFile().controls)
        expected.insert(control.name);

    std::set<std::string> actual;
    for (const QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->objectName() != NorvDynoData::kStatusStripName) // ours, below the design
            actual.insert(child->objectName().toStdString());
    }

    // Label1 has no elements 6, 7 or 16, and the unit label of Text1(0) is
    // S(19), not a Label1 element.
    EXPECT_EQ(actual, expected);
}

TEST(MainWindow, RpmBoxHasNoUnitLabel)
{
    NorvDynoData window;
    const QRect rpm = window.text1Widget(3)->geometry();
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        const QRect place = label->geometry();
        const bool beside = place.left() >= rpm.right() && place.top() <= rpm.bottom() && place.bottom() >= rpm.top();
        EXPECT_FALSE(beside) << label->objectName().toStdString() << " (\"" << label->text().toStdString()
                             << "\") stands to the right of Text1(3)";
    }
}

TEST(MainWindow, SettingsListCaptionReadsSetBraudRate)
{
    NorvDynoData window;
    const auto* caption = window.findChild<QLabel*>("Label17");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), "Set Braud Rate");
}

TEST(MainWindow, HasItsCaptionAndAFixedClientArea)
{
    NorvDynoData window;
    EXPECT_EQ(window.windowTitle(), "Zelvar QT4 Data (Remember to close this exe before unplug the usb)");
    // The designed client area, and the status strip below it.
    const QSize client(pixels(10080), pixels(3540) + NorvDynoData::kStatusStripHeight);
    EXPECT_EQ(window.size(), client);
    EXPECT_EQ(window.minimumSize(), client);
    EXPECT_EQ(window.maximumSize(), client);
    EXPECT_EQ(window.statusStrip()->geometry(),
              QRect(0, pixels(3540), pixels(10080), NorvDynoData::kStatusStripHeight));
}

TEST(MainWindow, StartsReadyWithEmptyBoxesAndLists)
{
    NorvDynoData window;
    for (int i = 0; i < NorvDynoData::kText1Count; ++i) {
        const QLineEdit* box = window.text1Widget(i);
        EXPECT_EQ(box->text(), "") << "Text1(" << i << ")";
        EXPECT_FALSE(box->isReadOnly()) << "Text1(" << i << ") must accept typing";
        EXPECT_TRUE(box->isEnabled()) << "Text1(" << i << ")";
    }
    EXPECT_EQ(window.command1Widget()->text(), "Start");
    EXPECT_EQ(window.label2Widget()->text(), "Now Ready");
    for (const QComboBox* list : {window.combo1Widget(), window.combo2Widget()}) {
        SCOPED_TRACE(list->objectName().toStdString());
        EXPECT_TRUE(list->isEditable());
        EXPECT_EQ(list->insertPolicy(), QComboBox::NoInsert);
        EXPECT_EQ(list->count(), 0);
        EXPECT_EQ(list->currentText(), "");
        EXPECT_TRUE(list->isEnabled());
    }
}

// ---------------------------------------------------------------------------
// Focus, as the operator moves it with the keyboard.

class MainWindowShown : public testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void fillLists()
    {
        window.Combo1().insertItem(0, "3");
        for (int port = 1; port <= 16; ++port)
            window.Combo1().addItem(QString::number(port));
        window.Combo1().setCurrentIndex(0);
        for (const char* settings : {"115200,N,8,1", "57600,N,8,1", "19200,N,8,1", "9600,N,8,1", "4800,N,8,1"})
            window.Combo2().addItem(settings);
        window.Combo2().setCurrentIndex(0);
    }

    static QWidget* focused() { return QApplication::focusWidget(); }

    // Focus names met while pressing the key count times.
    QStringList pressAndRecord(Qt::Key key, Qt::KeyboardModifiers modifiers, int count)
    {
        std::vector<QWidget*> seen;
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(focused(), key, modifiers);
            seen.push_back(focused());
        }
        return namesOf(seen);
    }

    NorvDynoData window;
};

TEST_F(MainWindowShown, FocusStartsOnThePortList)
{
    ASSERT_NE(focused(), nullptr);
    EXPECT_EQ(focused()->objectName(), "Combo1");
}

TEST_F(MainWindowShown, TabMovesThroughTheControlsInTabIndexOrderAndWraps)
{
    QStringList order = focusOrder();
    order.move(0, order.size() - 1);
    EXPECT_EQ(pressAndRecord(Qt::Key_Tab, Qt::NoModifier, static_cast<int>(order.size())), order);
}

TEST_F(MainWindowShown, BacktabMovesThroughTheControlsInReverse)
{
    QStringList order = focusOrder();
    std::ranges::reverse(order);
    EXPECT_EQ(pressAndRecord(Qt::Key_Backtab, Qt::ShiftModifier, static_cast<int>(order.size())), order);
}

TEST_F(MainWindowShown, FocusChainHoldsTheFocusableControlsInOrder)
{
    std::vector<QWidget*> chain;
    QWidget* widget = window.combo1Widget();
    do {
        // The combo box's own text field delegates its focus to the combo.
        if (widget->focusPolicy() & Qt::TabFocus && !widget->focusProxy())
            chain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != window.combo1Widget() && chain.size() < 100);

    EXPECT_EQ(namesOf(chain), focusOrder());
}

// ---------------------------------------------------------------------------
// Events: only the operator's deeds raise them.

TEST_F(MainWindowShown, ClickingStartRaisesCommand1ClickOnce)
{
    QSignalSpy clicks(&window, &NorvDynoData::Command1_Click);
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(MainWindowShown, SpaceOnTheFocusedButtonRaisesCommand1Click)
{
    QSignalSpy clicks(&window, &NorvDynoData::Command1_Click);
    window.command1Widget()->setFocus();
    QTest::keyClick(window.command1Widget(), Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 1);
}

struct ListEvents {
    explicit ListEvents(NorvDynoData& window)
        : combo1(&window, &NorvDynoData::Combo1_Click), combo2(&window, &NorvDynoData::Combo2_Click)
    {
    }
    QSignalSpy combo1;
    QSignalSpy combo2;
};

TEST_F(MainWindowShown, ArrowKeyOnThePortListPicksTheNextEntry)
{
    fillLists();
    ListEvents events(window);
    QTest::keyClick(window.combo1Widget(), Qt::Key_Down);
    EXPECT_EQ(events.combo1.count(), 1);
    EXPECT_EQ(events.combo2.count(), 0);
    EXPECT_EQ(window.Combo1().text(), "1");
}

TEST_F(MainWindowShown, MouseClickInTheOpenSettingsListPicksThatEntry)
{
    fillLists();
    ListEvents events(window);
    QComboBox* list = window.combo2Widget();
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(view->isVisible());
    const QPoint entry = view->visualRect(view->model()->index(3, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry);

    EXPECT_EQ(events.combo2.count(), 1);
    EXPECT_EQ(events.combo1.count(), 0);
    EXPECT_EQ(window.Combo2().text(), "9600,N,8,1");
    EXPECT_EQ(window.Combo2().currentIndex(), 3);
}

TEST_F(MainWindowShown, KeyboardPickInTheOpenPortListRaisesCombo1Click)
{
    fillLists();
    ListEvents events(window);
    QComboBox* list = window.combo1Widget();
    list->showPopup();
    ASSERT_TRUE(list->view()->isVisible());
    QTest::keyClick(list->view(), Qt::Key_Down);
    QTest::keyClick(list->view(), Qt::Key_Down);
    QTest::keyClick(list->view(), Qt::Key_Return);

    EXPECT_EQ(events.combo1.count(), 1);
    EXPECT_EQ(window.Combo1().text(), "2");
}

TEST_F(MainWindowShown, PickingTheSelectedEntryAgainStillRaisesTheEvent)
{
    fillLists();
    ListEvents events(window);
    QComboBox* list = window.combo1Widget();
    list->showPopup();
    ASSERT_TRUE(list->view()->isVisible());
    QTest::keyClick(list->view(), Qt::Key_Return);
    EXPECT_EQ(events.combo1.count(), 1);
    EXPECT_EQ(window.Combo1().text(), "3");
}

// Typed text is applied by nothing, however the operator leaves the field.
struct TypedTextCase {
    const char* how;
    std::function<void(NorvDynoData&)> leaveField;
};

void PrintTo(const TypedTextCase& typed, std::ostream* os)
{
    *os << typed.how;
}

class TypedListText : public MainWindowShown, public testing::WithParamInterface<TypedTextCase> {};

TEST_P(TypedListText, RaisesNoEventAndAddsNoEntry)
{
    fillLists();
    ListEvents events(window);
    QComboBox* list = window.combo1Widget();
    list->setFocus();
    list->lineEdit()->selectAll();
    QTest::keyClicks(list, "16");
    GetParam().leaveField(window);

    EXPECT_EQ(events.combo1.count(), 0) << "after typing \"16\" and " << GetParam().how;
    EXPECT_EQ(events.combo2.count(), 0);
    EXPECT_EQ(list->count(), 17);
    EXPECT_EQ(window.Combo1().text(), "16");
}

INSTANTIATE_TEST_SUITE_P(
    LeavingTheField, TypedListText,
    testing::Values(
        TypedTextCase{"staying", [](NorvDynoData&) {}},
        TypedTextCase{"pressing Enter", [](NorvDynoData& w) { QTest::keyClick(w.combo1Widget(), Qt::Key_Return); }},
        TypedTextCase{"pressing Tab", [](NorvDynoData& w) { QTest::keyClick(w.combo1Widget(), Qt::Key_Tab); }},
        TypedTextCase{"clicking into a box",
                      [](NorvDynoData& w) {
                          QTest::mouseClick(w.text1Widget(8), Qt::LeftButton);
                          EXPECT_EQ(QApplication::focusWidget(), w.text1Widget(8));
                      }},
        TypedTextCase{"being disabled by Start", [](NorvDynoData& w) { w.Combo1().setEnabled(false); }}),
    [](const testing::TestParamInfo<TypedTextCase>& test) {
        std::string name;
        for (const char c : std::string(test.param.how))
            if (std::isalnum(static_cast<unsigned char>(c)))
                name += c;
        return name;
    });

TEST_F(MainWindowShown, ClickingStartAfterTypingRaisesOnlyCommand1Click)
{
    fillLists();
    ListEvents events(window);
    QSignalSpy clicks(&window, &NorvDynoData::Command1_Click);
    window.combo2Widget()->setFocus();
    window.combo2Widget()->lineEdit()->selectAll();
    QTest::keyClicks(window.combo2Widget(), "9600,N,8,1");
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(focused(), window.command1Widget());

    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(events.combo2.count(), 0);
}

// Typed text in a list is no pick, also when the window goes away around it.
TEST(MainWindowTeardown, ClosingAndDestroyingWithTypedTextRaiseOnlyFormUnload)
{
    for (const char* typed : {"", "16", "99"}) {
        SCOPED_TRACE(std::string("typed \"") + typed + "\"");
        auto window = std::make_unique<NorvDynoData>();
        window->Combo1().addItem("3");
        window->Combo1().addItem("16");
        window->Combo1().setCurrentIndex(0);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->combo1Widget()->setFocus();
        window->combo1Widget()->lineEdit()->selectAll();
        QTest::keyClicks(window->combo1Widget(), typed);

        int picks = 0;
        int unloads = 0;
        QObject::connect(window.get(), &NorvDynoData::Combo1_Click, [&picks] { ++picks; });
        QObject::connect(window.get(), &NorvDynoData::Form_Unload, [&unloads] { ++unloads; });
        window->close();
        window.reset();
        EXPECT_EQ(picks, 0);
        EXPECT_EQ(unloads, 1);
    }
}

TEST_F(MainWindowShown, SelectingFromCodeRaisesNothing)
{
    ListEvents events(window);
    fillLists();
    window.Combo1().setCurrentIndex(16);
    window.Combo2().setCurrentIndex(4);
    window.combo1Widget()->setCurrentIndex(3);
    EXPECT_EQ(events.combo1.count(), 0);
    EXPECT_EQ(events.combo2.count(), 0);
}

TEST_F(MainWindowShown, ClosingRaisesFormUnloadAndCloses)
{
    QSignalSpy unloads(&window, &NorvDynoData::Form_Unload);
    EXPECT_TRUE(window.close());
    EXPECT_EQ(unloads.count(), 1);
    EXPECT_FALSE(window.isVisible());
}

// ---------------------------------------------------------------------------
// The MainForm surface reads and writes the widgets themselves.

TEST(MainWindowForm, Text1BoxesReadAndWriteTheirOwnWidget)
{
    NorvDynoData window;
    zelvar::MainForm& form = window;
    for (int i = 0; i < zelvar::MainForm::kText1Count; ++i)
        form.Text1(i).setText(QString("value %1").arg(i));
    for (int i = 0; i < zelvar::MainForm::kText1Count; ++i) {
        const auto* box = window.findChild<QLineEdit*>(QString("Text1_%1").arg(i));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString("value %1").arg(i)) << "Text1(" << i << ")";
        EXPECT_EQ(window.text1Widget(i), box);
    }
}

TEST(MainWindowForm, BoxesShowAFirstValueAtOnceAndABurstOnlyByItsNewestValue)
{
    NorvDynoData window;
    zelvar::MainForm& form = window;
    QLineEdit* rpm = window.text1Widget(3);
    std::vector<QString> shown;
    QObject::connect(rpm, &QLineEdit::textChanged, [&](const QString& text) { shown.push_back(text); });

    form.Text1(3).setText("100");
    EXPECT_EQ(rpm->text(), "100") << "a value after a quiet spell is shown at once";
    for (const char* value : {"200", "300", "400"})
        form.Text1(3).setText(value);
    EXPECT_EQ(rpm->text(), "100") << "values within one refresh wait";
    EXPECT_EQ(form.Text1(3).text(), "400") << "the form reads the newest value";

    EXPECT_TRUE(QTest::qWaitFor([&] { return rpm->text() == "400"; }, NorvDynoData::kBoxRefreshMs * 10));
    EXPECT_EQ(shown, (std::vector<QString>{"100", "400"})) << "only the newest of a burst is laid out";
}

TEST(MainWindowForm, TypingIntoABoxDropsAValueStillWaiting)
{
    NorvDynoData window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    zelvar::MainForm& form = window;
    form.Text1(8).setText("20");
    form.Text1(8).setText("15"); // waits for the next refresh
    window.text1Widget(8)->setFocus();
    QTest::keyClicks(window.text1Widget(8), "5");
    EXPECT_EQ(form.Text1(8).text(), "205");
    QTest::qWait(NorvDynoData::kBoxRefreshMs * 2);
    EXPECT_EQ(window.text1Widget(8)->text(), "205") << "the typing came later and stays";
}

TEST(MainWindowForm, TypedBoxTextIsWhatTheFormReads)
{
    NorvDynoData window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.text1Widget(8)->setFocus();
    QTest::keyClicks(window.text1Widget(8), "25");
    EXPECT_EQ(window.Text1(8).text(), "25");
}

TEST(MainWindowForm, Text1OutsideTheArrayIsARunTimeError)
{
    NorvDynoData window;
    for (const int index : {-1, 9, 19}) {
        EXPECT_THROW(window.Text1(index), zelvar::RuntimeError) << "Text1(" << index << ")";
        EXPECT_THROW(window.text1Widget(index), zelvar::RuntimeError) << "Text1(" << index << ")";
    }
}

TEST(MainWindowForm, CaptionsReadAndWriteTheButtonAndStatusLine)
{
    NorvDynoData window;
    EXPECT_EQ(window.Command1().caption(), "Start");
    EXPECT_EQ(window.Label2().caption(), "Now Ready");
    window.Command1().setCaption("Stop");
    window.Label2().setCaption("Error!");
    EXPECT_EQ(window.command1Widget()->text(), "Stop");
    EXPECT_EQ(window.label2Widget()->text(), "Error!");
    EXPECT_EQ(window.Command1().caption(), "Stop");
    EXPECT_EQ(window.Label2().caption(), "Error!");
}

TEST(MainWindowForm, EnabledStateIsTheWidgets)
{
    NorvDynoData window;
    window.Combo1().setEnabled(false);
    EXPECT_FALSE(window.combo1Widget()->isEnabled());
    EXPECT_TRUE(window.combo2Widget()->isEnabled());
    window.combo1Widget()->setEnabled(true);
    EXPECT_TRUE(window.Combo1().isEnabled());
}

TEST(MainWindowForm, ListEntryOutsideTheListIsARunTimeError)
{
    NorvDynoData window;
    zelvar::ComboBox& list = window.Combo2();
    list.addItem("115200,N,8,1");
    EXPECT_THROW(list.setCurrentIndex(1), zelvar::RuntimeError);
    EXPECT_THROW(list.setCurrentIndex(-1), zelvar::RuntimeError);
    EXPECT_THROW(list.itemText(1), zelvar::RuntimeError);
    EXPECT_THROW(list.insertItem(2, "x"), zelvar::RuntimeError);
    EXPECT_THROW(list.insertItem(-1, "x"), zelvar::RuntimeError);
    EXPECT_EQ(window.combo2Widget()->count(), 1);
}

// The handlers are tested against MemoryMainForm; the window's lists must
// behave the same under the same steps, or the tests prove nothing about the
// real program.
struct ListState {
    QStringList entries;
    int current;
    QString text;
    bool enabled;
    bool operator==(const ListState&) const = default;
};

void PrintTo(const ListState& state, std::ostream* os)
{
    PrintTo(state.entries, os);
    *os << " current " << state.current << " text ";
    PrintTo(state.text, os);
    *os << (state.enabled ? " enabled" : " disabled");
}

ListState stateOf(const zelvar::ComboBox& list)
{
    ListState state{{}, list.currentIndex(), list.text(), list.isEnabled()};
    for (int i = 0; i < list.count(); ++i)
        state.entries << list.itemText(i);
    return state;
}

struct ListStep {
    const char* what;
    std::function<void(zelvar::ComboBox&)> apply;
};

TEST(MainWindowForm, ListsBehaveLikeTheMemoryForm)
{
    const std::vector<ListStep> steps = {
        {"insert into the empty list", [](zelvar::ComboBox& l) { l.insertItem(0, "3"); }},
        {"append 1", [](zelvar::ComboBox& l) { l.addItem("1"); }},
        {"append 2", [](zelvar::ComboBox& l) { l.addItem("2"); }},
        {"select 0", [](zelvar::ComboBox& l) { l.setCurrentIndex(0); }},
        {"select 2", [](zelvar::ComboBox& l) { l.setCurrentIndex(2); }},
        {"insert 9 before the selection", [](zelvar::ComboBox& l) { l.insertItem(1, "9"); }},
        {"append after the selection", [](zelvar::ComboBox& l) { l.addItem("16"); }},
        {"select the last", [](zelvar::ComboBox& l) { l.setCurrentIndex(l.count() - 1); }},
        {"disable", [](zelvar::ComboBox& l) { l.setEnabled(false); }},
        {"select 0 while disabled", [](zelvar::ComboBox& l) { l.setCurrentIndex(0); }},
        {"enable", [](zelvar::ComboBox& l) { l.setEnabled(true); }},
    };

    zelvar::MemoryMainForm memory;
    NorvDynoData window;
    for (const ListStep& step : steps) {
        step.apply(memory.Combo1());
        step.apply(window.Combo1());
        ASSERT_EQ(stateOf(window.Combo1()), stateOf(memory.Combo1())) << "after " << step.what;
    }
}

TEST(MainWindowForm, FillingAnEmptyListKeepsTheTextField)
{
    NorvDynoData window;
    window.combo1Widget()->setEditText("7");
    window.Combo1().insertItem(0, "3");
    EXPECT_EQ(window.Combo1().currentIndex(), -1);
    EXPECT_EQ(window.Combo1().text(), "7");
}

TEST(MainWindowForm, SelectingFromCodeReplacesTypedText)
{
    NorvDynoData window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    zelvar::ComboBox& list = window.Combo1();
    list.addItem("3");
    list.addItem("1");
    list.setCurrentIndex(0);

    window.combo1Widget()->setFocus();
    window.combo1Widget()->lineEdit()->selectAll();
    QTest::keyClicks(window.combo1Widget(), "7");
    EXPECT_EQ(list.text(), "7");
    EXPECT_EQ(list.currentIndex(), 0);

    list.setCurrentIndex(0);
    EXPECT_EQ(list.text(), "3") << "selecting the entry that is already selected";
    list.setCurrentIndex(1);
    EXPECT_EQ(list.text(), "1");
}

} // namespace
