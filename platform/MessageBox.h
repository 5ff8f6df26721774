#pragma once

#include <QString>

namespace zelvar {

// A modal message with the critical (stop) icon and a single OK button; show()
// returns when the operator has closed it. The window toolkit implements it;
// tests record what would have been shown.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void showCritical(const QString& title, const QString& text) = 0;
};

} // namespace zelvar
