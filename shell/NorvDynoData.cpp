#include "shell/NorvDynoData.h"

#include "platform/RuntimeError.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProxyStyle>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zelvar {

namespace {

using Kind = NorvDynoData::Kind;
using Placement = NorvDynoData::Placement;

// Laid out as the dyno's operators know the window: live values on the top
// row, the controller's set-up values below them, the interval at the bottom,
// port and settings lists on the left.
constexpr Placement kLayout[] = {
    {"Text2", Kind::TextBox, "Zelvar", 240, 240, 972, 288, 4},
    {"Label10", Kind::Label, "Set Com Port", 120, 720, 1212, 252, 0},
    {"Combo1", Kind::ComboBox, "", 120, 960, 1212, 288, 1},
    {"Label17", Kind::Label, "Set Braud Rate", 120, 1560, 1212, 372, 2},
    {"Combo2", Kind::ComboBox, "", 120, 1800, 1212, 288, 3},
    {"Command1", Kind::Button, "Start", 840, 2400, 492, 492, 5},
    {"Label2", Kind::Label, "Now Ready", 720, 3000, 975, 255, 15},
    {"Label1_2", Kind::Label, "Run Time", 2400, 120, 1215, 255, 28},
    {"Text1_0", Kind::TextBox, "", 2400, 360, 855, 372, 13},
    {"S_19", Kind::Label, "s", 3360, 480, 375, 255, 27},
    {"Label1_0", Kind::Label, "Output Volt", 4080, 120, 1215, 255, 14},
    {"Text1_1", Kind::TextBox, "", 4080, 360, 855, 372, 12},
    {"Label1_17", Kind::Label, "V", 5040, 480, 375, 255, 25},
    {"Label1_1", Kind::Label, "Output Current", 5880, 120, 1215, 255, 16},
    {"Text1_2", Kind::TextBox, "", 5880, 360, 855, 372, 11},
    {"Label1_18", Kind::Label, "A", 6840, 480, 375, 255, 26},
    {"Label1_3", Kind::Label, "RPM", 7560, 120, 1215, 255, 29},
    {"Text1_3", Kind::TextBox, "", 7560, 360, 855, 372, 10},
    {"Label1_8", Kind::Label, "Flywheel Radius", 2400, 1200, 1215, 255, 17},
    {"Text1_4", Kind::TextBox, "", 2400, 1440, 855, 372, 9},
    {"Label1_12", Kind::Label, "mm", 3360, 1560, 375, 255, 21},
    {"Label1_9", Kind::Label, "Flywheel Weight", 4080, 1200, 1215, 255, 18},
    {"Text1_5", Kind::TextBox, "", 4080, 1440, 855, 372, 8},
    {"Label1_13", Kind::Label, "g", 5040, 1560, 375, 255, 22},
    {"Label1_10", Kind::Label, "ESC Neutral", 5880, 1200, 1215, 255, 19},
    {"Text1_6", Kind::TextBox, "", 5880, 1440, 855, 372, 7},
    {"Label1_14", Kind::Label, "us", 6840, 1560, 375, 255, 23},
    {"Label1_11", Kind::Label, "ESC Full", 7560, 1200, 1215, 255, 20},
    {"Text1_7", Kind::TextBox, "", 7560, 1440, 855, 372, 6},
    {"Label1_15", Kind::Label, "us", 8520, 1560, 375, 255, 24},
    {"Label1_4", Kind::Label, "Interval", 2400, 2280, 1215, 255, 31},
    {"Text1_8", Kind::TextBox, "", 2400, 2520, 855, 372, 30},
    {"Label1_5", Kind::Label, "ms", 3360, 2640, 375, 255, 32},
};

constexpr int kClientWidthTwips = 10080;
constexpr int kClientHeightTwips = 3540;

// The layout does not fall on whole pixels everywhere (288 twips is 19.2 px);
// each coordinate goes to its nearest pixel, so no control drifts by more
// than half a pixel from where it belongs.
int toPixels(int twips)
{
    constexpr int perPixel = NorvDynoData::kTwipsPerPixel;
    return (twips + perPixel / 2) / perPixel;
}

// Fonts are sized in pixels, not points: the controls have fixed pixel sizes,
// and a point size would grow with the screen's logical DPI and overflow
// them. The captions are long for their 81 px ("Flywheel Weight", "Output
// Current") and the settings entries long for the list field ("115200,N,8,1"),
// hence a semi-condensed face.
constexpr int kFontPixels = 10;
constexpr int kReadoutFontPixels = 12;
constexpr int kBrandFontPixels = 12;

QFont windowFont(QFont font)
{
    font.setPixelSize(kFontPixels);
    font.setStretch(QFont::SemiCondensed);
    return font;
}

// QComboBox treats an entry typed into the field as picked when the operator
// presses Enter or leaves the field (clicking Start, for one), and reports it
// as activated. Only a pick from the list applies a port or settings, so the
// window holds those reports back; it tells them apart by this flag.
class PickList final : public QComboBox {
public:
    using QComboBox::QComboBox;

    bool committingTypedText() const { return committingTypedText_; }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        const QScopedValueRollback guard(committingTypedText_, committingTypedText_ || enter);
        QComboBox::keyPressEvent(event);
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        const QScopedValueRollback guard(committingTypedText_, true);
        QComboBox::focusOutEvent(event);
    }

private:
    bool committingTypedText_ = false;
};

// The lists are 81 px wide, and the style's drop-down button would leave
// too little of that for "115200,N,8,1"; a slimmer button gives the field
// the room.
class SlimDropDownStyle final : public QProxyStyle {
public:
    static constexpr int kButtonWidth = 12;

    explicit SlimDropDownStyle(QObject* owner) : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {
        setParent(owner);
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override
    {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField))
            return rect;
        const QRect button = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
        const int spare = std::max(0, button.width() - kButtonWidth);
        if (part == SC_ComboBoxArrow)
            rect.setLeft(rect.left() + spare);
        else
            rect.setRight(rect.right() + spare);
        return rect;
    }
};

// A box shows a new value at once, unless it showed one less than
// kBoxRefreshMs ago: then the value waits for the rest of that time, and only
// the newest value waiting is shown. At the line rate the run values change
// over 400 times a second, far faster than anyone reads them, and laying out
// and painting every change would cost more than all the rest of recording.
// text() is always the newest value; typing into the box drops a value still
// waiting, as the typing came later.
class LineEditBox final : public TextBox {
public:
    explicit LineEditBox(QLineEdit* edit) : edit_(edit), refresh_(new QTimer(edit))
    {
        refresh_->setSingleShot(true);
        QObject::connect(refresh_, &QTimer::timeout, edit_, [this] { showWaiting(); });
        QObject::connect(edit_, &QLineEdit::textEdited, edit_, [this] {
            waiting_.reset();
            refresh_->stop();
        });
    }

    QString text() const override { return waiting_ ? *waiting_ : edit_->text(); }

    void setText(const QString& text) override
    {
        waiting_ = text;
        if (!refresh_->isActive())
            showWaiting();
    }

private:
    // Shows the value waiting, if any, and holds the next one back for
    // kBoxRefreshMs.
    void showWaiting()
    {
        if (!waiting_)
            return;
        edit_->setText(*std::exchange(waiting_, std::nullopt));
        refresh_->start(NorvDynoData::kBoxRefreshMs);
    }

    QLineEdit* edit_;
    QTimer* refresh_;
    std::optional<QString> waiting_;
};

// Out-of-range indices are run-time errors here as in MemoryMainForm, where
// QComboBox alone would quietly clamp or ignore them.
class PickListBox final : public ComboBox {
public:
    explicit PickListBox(QComboBox* combo) : combo_(combo) {}

    int count() const override { return combo_->count(); }

    QString itemText(int index) const override
    {
        check(index, count(), "list entry");
        return combo_->itemText(index);
    }

    void insertItem(int index, const QString& text) override
    {
        check(index, count() + 1, "list insert");
        // QComboBox selects the first entry put into an empty list; an entry
        // is selected here only by setCurrentIndex, as start-up does.
        const bool noSelection = combo_->currentIndex() < 0;
        const QString field = combo_->currentText();
        combo_->insertItem(index, text);
        if (noSelection && combo_->currentIndex() >= 0) {
            combo_->setCurrentIndex(-1);
            combo_->setEditText(field);
        }
    }

    int currentIndex() const override { return combo_->currentIndex(); }

    void setCurrentIndex(int index) override
    {
        check(index, count(), "list entry");
        combo_->setCurrentIndex(index);
    }

    QString text() const override { return combo_->currentText(); }
    bool isEnabled() const override { return combo_->isEnabled(); }
    void setEnabled(bool enabled) override { combo_->setEnabled(enabled); }

private:
    void check(int index, int size, const char* what) const
    {
        if (index < 0 || index >= size)
            throw RuntimeError(combo_->objectName().toStdString() + ": " + what + " index " + std::to_string(index)
                               + " out of range");
    }

    QComboBox* combo_;
};

class ButtonCaption final : public Caption {
public:
    explicit ButtonCaption(QPushButton* button) : button_(button) {}
    QString caption() const override { return button_->text(); }
    void setCaption(const QString& caption) override { button_->setText(caption); }

private:
    QPushButton* button_;
};

class LabelCaption final : public Caption {
public:
    explicit LabelCaption(QLabel* label) : label_(label) {}
    QString caption() const override { return label_->text(); }
    void setCaption(const QString& caption) override { label_->setText(caption); }

private:
    QLabel* label_;
};

QWidget* createControl(const Placement& place, QWidget* parent)
{
    const QString text = QString::fromUtf8(place.text);
    QWidget* widget = nullptr;
    switch (place.kind) {
    case Kind::TextBox:
        widget = new QLineEdit(text, parent);
        break;
    case Kind::Label: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        // Captions sit at the top of their boxes, close to the control they
        // name; "Set Braud Rate" has a taller box than its text needs.
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setText(text);
        widget = label;
        break;
    }
    case Kind::ComboBox: {
        auto* combo = new PickList(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // Typed text stays exactly what was typed; nothing completes it to an
        // entry behind the operator's back.
        combo->setCompleter(nullptr);
        widget = combo;
        break;
    }
    case Kind::Button:
        widget = new QPushButton(text, parent);
        break;
    }
    widget->setObjectName(QString::fromUtf8(place.name));
    widget->setGeometry(toPixels(place.left), toPixels(place.top), toPixels(place.width), toPixels(place.height));
    return widget;
}

template <typename Widget>
Widget* control(const QWidget* window, const QString& name)
{
    auto* widget = window->findChild<Widget*>(name, Qt::FindDirectChildrenOnly);
    if (!widget)
        throw std::logic_error("main window has no control " + name.toStdString());
    return widget;
}

} // namespace

struct NorvDynoData::Controls {
    explicit Controls(const QWidget* window)
        : combo1(static_cast<PickList*>(control<QComboBox>(window, QStringLiteral("Combo1")))),
          combo2(static_cast<PickList*>(control<QComboBox>(window, QStringLiteral("Combo2")))),
          command1(control<QPushButton>(window, QStringLiteral("Command1"))),
          label2(control<QLabel>(window, QStringLiteral("Label2"))), combo1Box(combo1), combo2Box(combo2),
          command1Caption(command1), label2Caption(label2)
    {
        for (int i = 0; i < MainForm::kText1Count; ++i) {
            text1[i] = control<QLineEdit>(window, QStringLiteral("Text1_%1").arg(i));
            text1Boxes.emplace_back(text1[i]);
        }
    }

    std::array<QLineEdit*, MainForm::kText1Count> text1{};
    PickList* combo1;
    PickList* combo2;
    QPushButton* command1;
    QLabel* label2;

    // A deque: the boxes' timers call back into them, so they must not move.
    std::deque<LineEditBox> text1Boxes;
    PickListBox combo1Box;
    PickListBox combo2Box;
    ButtonCaption command1Caption;
    LabelCaption label2Caption;
};

std::span<const NorvDynoData::Placement> NorvDynoData::layout()
{
    return kLayout;
}

NorvDynoData::NorvDynoData(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(toPixels(kClientWidthTwips), toPixels(kClientHeightTwips) + kStatusStripHeight);
    setFont(windowFont(font()));

    std::vector<std::pair<int, QWidget*>> focusable;
    for (const Placement& place : kLayout) {
        QWidget* widget = createControl(place, this);
        if (widget->focusPolicy() != Qt::NoFocus)
            focusable.emplace_back(place.tabIndex, widget);
    }
    std::sort(focusable.begin(), focusable.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        setTabOrder(focusable[i - 1].second, focusable[i].second);
    // Remembered as the window's focus widget, so it has the focus as soon
    // as the window is shown.
    focusable.front().second->setFocus();

    controls_ = std::make_unique<Controls>(this);

    // Made after the lists, so that it is deleted after them.
    auto* listStyle = new SlimDropDownStyle(this);
    controls_->combo1->setStyle(listStyle);
    controls_->combo2->setStyle(listStyle);

    QFont readout = font();
    readout.setPixelSize(kReadoutFontPixels);
    for (QLineEdit* box : controls_->text1)
        box->setFont(readout);

    auto* brand = control<QLineEdit>(this, QStringLiteral("Text2"));
    QFont brandFont = font();
    brandFont.setPixelSize(kBrandFontPixels);
    brandFont.setBold(true);
    brand->setFont(brandFont);
    brand->setAlignment(Qt::AlignCenter);

    // Below the designed layout, which keeps its place: the reason for
    // "Error!" and the notices, where the operator reads them without
    // hovering over the status line.
    statusStrip_ = new QLabel(this);
    statusStrip_->setObjectName(QString::fromLatin1(kStatusStripName));
    statusStrip_->setTextFormat(Qt::PlainText);
    statusStrip_->setWordWrap(true);
    statusStrip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusStrip_->setContentsMargins(6, 2, 6, 2);
    statusStrip_->setGeometry(0, toPixels(kClientHeightTwips), toPixels(kClientWidthTwips), kStatusStripHeight);

    connect(controls_->command1, &QPushButton::clicked, this, &NorvDynoData::Command1_Click);
    connect(controls_->combo1, &QComboBox::activated, this, [this, list = controls_->combo1] {
        if (!list->committingTypedText())
            Q_EMIT Combo1_Click();
    });
    connect(controls_->combo2, &QComboBox::activated, this, [this, list = controls_->combo2] {
        if (!list->committingTypedText())
            Q_EMIT Combo2_Click();
    });
}

void NorvDynoData::showStatusReason(const QString& text)
{
    controls_->label2->setToolTip(text);
    statusStrip_->setText(text);
}

QLabel* NorvDynoData::statusStrip() const
{
    return statusStrip_;
}

void NorvDynoData::setReadoutsStale(bool stale)
{
    // The values stay as they were, only shown as no longer live.
    for (QLineEdit* box : controls_->text1) {
        QPalette palette = box->palette();
        const QPalette normal = QApplication::palette(box);
        // Halfway between the text and its background: a style's own
        // disabled text can be all but black.
        const QColor text = normal.color(QPalette::Text);
        const QColor base = normal.color(QPalette::Base);
        const QColor grey((text.red() + base.red()) / 2, (text.green() + base.green()) / 2,
                          (text.blue() + base.blue()) / 2);
        palette.setColor(QPalette::Text, stale ? grey : text);
        box->setPalette(palette);
    }
    readoutsStale_ = stale;
}

// The child widgets outlive this destructor (QWidget deletes them later), and
// a list losing the focus as the window goes could still report; nothing of
// the window is left to raise an event by then.
NorvDynoData::~NorvDynoData()
{
    disconnect(controls_->combo1, nullptr, this, nullptr);
    disconnect(controls_->combo2, nullptr, this, nullptr);
    disconnect(controls_->command1, nullptr, this, nullptr);
}

TextBox& NorvDynoData::Text1(int index)
{
    if (index < 0 || index >= kText1Count)
        throw RuntimeError("Text1 index " + std::to_string(index) + " out of range");
    return controls_->text1Boxes[static_cast<std::size_t>(index)];
}

ComboBox& NorvDynoData::Combo1()
{
    return controls_->combo1Box;
}
ComboBox& NorvDynoData::Combo2()
{
    return controls_->combo2Box;
}
Caption& NorvDynoData::Command1()
{
    return controls_->command1Caption;
}
Caption& NorvDynoData::Label2()
{
    return controls_->label2Caption;
}

QLineEdit* NorvDynoData::text1Widget(int index) const
{
    if (index < 0 || index >= kText1Count)
        throw RuntimeError("Text1 index " + std::to_string(index) + " out of range");
    return controls_->text1[static_cast<std::size_t>(index)];
}

QComboBox* NorvDynoData::combo1Widget() const
{
    return controls_->combo1;
}
QComboBox* NorvDynoData::combo2Widget() const
{
    return controls_->combo2;
}
QPushButton* NorvDynoData::command1Widget() const
{
    return controls_->command1;
}
QLabel* NorvDynoData::label2Widget() const
{
    return controls_->label2;
}

void NorvDynoData::closeEvent(QCloseEvent* event)
{
    Q_EMIT Form_Unload();
    event->accept();
}

} // namespace zelvar
