#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace zelvar {

// The main window as the event handlers reach it, control by control. The
// window is the program's blackboard: the read-out boxes hold the live and
// set-up values, the caption of Command1 is the run state. The real window
// implements this with widgets; tests and tools use MemoryMainForm.
class TextBox {
public:
    virtual ~TextBox() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
};

// A drop-down list with an editable text field.
class ComboBox {
public:
    virtual ~ComboBox() = default;
    virtual int count() const = 0;
    virtual QString itemText(int index) const = 0;
    // Inserts at index (0 .. count()); the entries from index on move down.
    virtual void insertItem(int index, const QString& text) = 0;
    virtual void addItem(const QString& text) { insertItem(count(), text); }
    // -1 when no entry is selected.
    virtual int currentIndex() const = 0;
    // Selecting an entry also puts its text into the text field.
    virtual void setCurrentIndex(int index) = 0;
    // The text field: the selected entry, or whatever was typed into it.
    virtual QString text() const = 0;
    virtual bool isEnabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

// A button or a label: something with a caption.
class Caption {
public:
    virtual ~Caption() = default;
    virtual QString caption() const = 0;
    virtual void setCaption(const QString& caption) = 0;
};

// The nine read-out boxes, Text1(0) to Text1(8), by what they show.
enum class Box {
    RunTime,        // s
    OutputVoltage,  // V
    OutputCurrent,  // A
    Rpm,            // 1/min
    FlywheelRadius, // mm
    FlywheelWeight, // g
    EscNeutral,     // us
    EscFull,        // us
    Interval,       // ms, the sampling interval the receiver's interval rule reads
};

// The captions the handlers set and compare. The button's caption is the run
// state, and the status line says how the last step ended.
namespace caption {
inline constexpr QLatin1String kStart{"Start"}; // Command1 while idle
inline constexpr QLatin1String kStop{"Stop"};   // Command1 during a run
inline constexpr QLatin1String kNowReady{"Now Ready"};
inline constexpr QLatin1String kNowRunning{"Now Running"};
inline constexpr QLatin1String kError{"Error!"};
} // namespace caption

class MainForm {
public:
    static constexpr int kText1Count = 9;

    virtual ~MainForm() = default;
    TextBox& Text1(Box box) { return Text1(static_cast<int>(box)); }
    // By index, for what walks all nine boxes; any other index throws
    // RuntimeError.
    virtual TextBox& Text1(int index) = 0;
    virtual ComboBox& Combo1() = 0;
    virtual ComboBox& Combo2() = 0;
    virtual Caption& Command1() = 0;
    virtual Caption& Label2() = 0;

    // A run is in progress whenever the button offers anything but Start.
    bool isRunning() { return Command1().caption() != caption::kStart; }
    // The last step ended in a recovery.
    bool showsError() { return Label2().caption() == caption::kError; }
};

} // namespace zelvar
