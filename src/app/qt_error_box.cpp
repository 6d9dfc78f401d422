#include "app/qt_error_box.h"

#include <QMessageBox>

namespace vantrel {

void QtErrorBox::show(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace vantrel
