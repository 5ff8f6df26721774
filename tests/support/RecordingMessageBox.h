#pragma once

// The message box of the tests: start-up and the windows run without a person
// to close a box, and the test reads what would have been shown.

#include "platform/MessageBox.h"

#include <QStringList>

namespace zelvar::testing_support {

class RecordingMessageBox final : public MessageBox {
public:
    void showCritical(const QString& title, const QString& text) override { shown << title + " | " + text; }

    // "title | text", in the order shown.
    QStringList shown;
};

} // namespace zelvar::testing_support
