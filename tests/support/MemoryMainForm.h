#pragma once

#include "platform/MainForm.h"

#include <QStringList>

namespace zelvar {

// The main window without a display, as it looks before the load step: empty
// boxes and lists, "Start" and "Now Ready".
class MemoryMainForm final : public MainForm {
public:
    class Field final : public TextBox {
    public:
        QString text() const override { return text_; }
        void setText(const QString& text) override { text_ = text; }

    private:
        QString text_;
    };

    class List final : public ComboBox {
    public:
        int count() const override { return static_cast<int>(items_.size()); }
        QString itemText(int index) const override;
        void insertItem(int index, const QString& text) override;
        int currentIndex() const override { return current_; }
        void setCurrentIndex(int index) override;
        QString text() const override { return text_; }
        // What the operator types into the field; applies nothing.
        void typeText(const QString& text) { text_ = text; }
        bool isEnabled() const override { return enabled_; }
        void setEnabled(bool enabled) override { enabled_ = enabled; }

    private:
        QStringList items_;
        int current_ = -1;
        QString text_;
        bool enabled_ = true;
    };

    class Label final : public Caption {
    public:
        explicit Label(QString caption) : caption_(std::move(caption)) {}
        QString caption() const override { return caption_; }
        void setCaption(const QString& caption) override { caption_ = caption; }

    private:
        QString caption_;
    };

    using MainForm::Text1;
    TextBox& Text1(int index) override;
    List& Combo1() override { return combo1_; }
    List& Combo2() override { return combo2_; }
    Label& Command1() override { return command1_; }
    Label& Label2() override { return label2_; }

    // The texts of all nine boxes, for tests and tools.
    QStringList texts() const;

private:
    Field text1_[kText1Count];
    List combo1_;
    List combo2_;
    Label command1_{caption::kStart};
    Label label2_{caption::kNowReady};
};

} // namespace zelvar
