#include <string>

#include <QApplication>

#include "app/form1.h"
#include "app/qt_error_box.h"
#include "board/data_folder.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/network_transfer.h"

int main(int argc, char* argv[])
{
    vantrel::PreferXWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    vantrel::QtErrorBox errorBox;
    const std::string dataBase = vantrel::PrepareDataBase(vantrel::DesktopDataPlaces(), errorBox);

    vantrel::NetworkTransfer transfer;
    vantrel::Form1 form(dataBase, transfer, errorBox, vantrel::systemClock());
    // Closing ends a fetch under way at once, so the program is gone promptly.
    form.onClosing = [&transfer] { transfer.abort(); };
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
