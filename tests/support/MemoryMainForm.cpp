#include "MemoryMainForm.h"

#include "platform/RuntimeError.h"

namespace zelvar {

namespace {
void checkIndex(int index, int size, const char* what)
{
    if (index < 0 || index >= size)
        throw RuntimeError(std::string(what) + " index " + std::to_string(index) + " out of range");
}
} // namespace

QString MemoryMainForm::List::itemText(int index) const
{
    checkIndex(index, count(), "list entry");
    return items_.at(index);
}

void MemoryMainForm::List::insertItem(int index, const QString& text)
{
    checkIndex(index, count() + 1, "list insert");
    items_.insert(index, text);
    if (current_ >= index)
        ++current_;
}

void MemoryMainForm::List::setCurrentIndex(int index)
{
    checkIndex(index, count(), "list entry");
    current_ = index;
    text_ = items_.at(index);
}

TextBox& MemoryMainForm::Text1(int index)
{
    checkIndex(index, kText1Count, "Text1");
    return text1_[index];
}

QStringList MemoryMainForm::texts() const
{
    QStringList out;
    for (const Field& box : text1_)
        out << box.text();
    return out;
}

} // namespace zelvar
