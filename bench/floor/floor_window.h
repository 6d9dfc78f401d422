#pragma once

#include <cmath>

#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace vantrel::bench {

// The floor's window: a 570x30 frameless strip with one label in the ticker's font, height and place,
// moved 20 twips (4/3 pixel) left every 20 ms and put back at the right edge once it has left.
class FloorWindow : public QWidget {
public:
    explicit FloorWindow(const QString& text, int top = 0) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    {
        setGeometry(0, top, 570, 30);
        QPalette colours = palette();
        colours.setColor(QPalette::Window, QColor(0x40, 0x40, 0x40));
        colours.setColor(QPalette::WindowText, Qt::white);
        setPalette(colours);
        QFont font(QStringLiteral("IPAPGothic"));
        font.setPointSizeF(9.75);
        m_label.setFont(font);
        m_label.setGeometry(static_cast<int>(m_left), 7, 0, 13);
        setHeadline(text);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { step(); });
    }

    void setHeadline(const QString& text)
    {
        m_label.setText(text);
        m_label.resize(m_label.fontMetrics().horizontalAdvance(text), 13);
    }
    void start() { m_timer.start(20); }
    void stop() { m_timer.stop(); }
    void step()
    {
        m_left = m_left + m_label.width() > 0 ? m_left - 4.0 / 3.0 : width();
        m_label.move(static_cast<int>(std::lround(m_left)), 7);
    }
    QLabel& label() { return m_label; }

private:
    QLabel m_label{this};
    QTimer m_timer;
    double m_left = 10;
};

}  // namespace vantrel::bench
