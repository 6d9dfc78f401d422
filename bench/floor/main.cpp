// The floor: the least a Qt Widgets program does to scroll one headline at 20 ms steps in a 570x30
// frameless window. The ticker's speed and footprint are measured against it.
//
//   vantrel_floor [--top=PIXELS] [TEXT]

#include <QApplication>

#include "floor_window.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QString text = QStringLiteral("Vantrel is ready...");
    int top = 0;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (argument.startsWith(QStringLiteral("--top=")))
            top = argument.mid(6).toInt();
        else
            text = argument;
    }
    vantrel::bench::FloorWindow window(text, top);
    window.start();
    window.show();
    return QApplication::exec();
}
