#pragma once

#include "platform/MainForm.h"

#include <QWidget>

#include <array>
#include <memory>
#include <span>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zelvar {

// The main window: nine read-out boxes with their caption and unit labels,
// the port and settings lists, the Start/Stop button, the status line and
// the brand box, laid out at fixed positions given in twips (1/1440 inch,
// 15 twips a pixel at 96 dots per inch; Qt scales for high-DPI screens).
//
// It is the handlers' MainForm: they reach its controls by name. It holds no
// logic of its own; its events are signals that the application connects to
// the handlers.
class NorvDynoData final : public QWidget, public MainForm {
    Q_OBJECT

public:
    static constexpr int kTwipsPerPixel = 15;
    // The text boxes show new values at most this often (milliseconds).
    static constexpr int kBoxRefreshMs = 100;
    static constexpr const char* kCaption = "Zelvar QT4 Data (Remember to close this exe before unplug the usb)";

    enum class Kind { TextBox, Label, ComboBox, Button };

    // One control of the window, placed in twips from the top-left corner of
    // the client area. Labels take no focus, so their tab index only keeps the
    // numbering of the design; the focus chain follows the tab index of the
    // rest.
    struct Placement {
        const char* name;
        Kind kind;
        const char* text;
        int left;
        int top;
        int width;
        int height;
        int tabIndex;
    };

    // The table the window is built from, one entry per control.
    static std::span<const Placement> layout();

    explicit NorvDynoData(QWidget* parent = nullptr);
    ~NorvDynoData() override;

    using MainForm::Text1;
    TextBox& Text1(int index) override;
    ComboBox& Combo1() override;
    ComboBox& Combo2() override;
    Caption& Command1() override;
    Caption& Label2() override;

    // The widgets, for tests and for placing extra controls.
    QLineEdit* text1Widget(int index) const;
    QLineEdit* text1Widget(Box box) const { return text1Widget(static_cast<int>(box)); }
    QComboBox* combo1Widget() const;
    QComboBox* combo2Widget() const;
    QPushButton* command1Widget() const;
    QLabel* label2Widget() const;

    // The strip below the designed layout, which says why the last step
    // failed, or what the program notices, in words that wrap; the status
    // line's tool tip says the same.
    static constexpr const char* kStatusStripName = "StatusReason";
    static constexpr int kStatusStripHeight = 44; // pixels: three lines
    void showStatusReason(const QString& text);
    QLabel* statusStrip() const;
    // The read-outs hold values of a run that ended in a failure: shown
    // greyed, with their text unchanged, until the next Start.
    void setReadoutsStale(bool stale);
    bool readoutsStale() const { return readoutsStale_; }

Q_SIGNALS:
    // Command1 pressed (mouse or keyboard).
    void Command1_Click();
    // An entry picked from the list by the operator (QComboBox::activated);
    // typing into the text field raises nothing.
    void Combo1_Click();
    void Combo2_Click();
    // The window is being closed, by any means; the close always goes ahead.
    void Form_Unload();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Controls;
    std::unique_ptr<Controls> controls_;
    QLabel* statusStrip_ = nullptr;
    bool readoutsStale_ = false;
};

} // namespace zelvar
