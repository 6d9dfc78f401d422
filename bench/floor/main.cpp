// The floor: the least a Qt Widgets program does to scroll one headline at 20 ms steps in a 570x30
// frameless window. The ticker's speed and footprint are measured against it.
//
//   vantrel_floor [--top=PIXELS] [TEXT]

#include <cmath>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

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

    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(0, top, 570, 30);
    QPalette colours = window.palette();
    colours.setColor(QPalette::Window, QColor(0x40, 0x40, 0x40));
    colours.setColor(QPalette::WindowText, Qt::white);
    window.setPalette(colours);

    // The ticker's headline: the same font, height and place, moving 20 twips (4/3 pixel) a step.
    QLabel label(text, &window);
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPointSizeF(9.75);
    label.setFont(font);
    double left = 10;
    label.setGeometry(static_cast<int>(left), 7, label.fontMetrics().horizontalAdvance(text), 13);

    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        left = left + label.width() > 0 ? left - 4.0 / 3.0 : window.width();
        label.move(static_cast<int>(std::lround(left)), 7);
    });
    timer.start(20);
    window.show();
    return QApplication::exec();
}
