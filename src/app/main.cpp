#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Vantrel is ready..."));
    label.setWindowFlags(Qt::FramelessWindowHint);
    label.setGeometry(0, 0, 570, 30);
    label.show();
    return app.exec();
}
