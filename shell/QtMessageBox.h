#pragma once

#include "platform/MessageBox.h"

namespace zelvar {

// A QMessageBox with the critical icon and one OK button.
class QtMessageBox final : public MessageBox {
public:
    void showCritical(const QString& title, const QString& text) override;
};

} // namespace zelvar
