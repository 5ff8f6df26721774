#include "shell/QtMessageBox.h"

#include <QMessageBox>

namespace zelvar {

void QtMessageBox::showCritical(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok);
    box.exec();
}

} // namespace zelvar
