#include "app/controls.h"

#include <algorithm>

#include <QMouseEvent>
#include <QPainter>
#include <QTextBoundaryFinder>

#include "app/twips.h"

namespace vantrel {
namespace {

std::int16_t buttonCode(Qt::MouseButtons buttons)
{
    std::int16_t code = 0;
    if (buttons & Qt::LeftButton)
        code += 1;
    if (buttons & Qt::RightButton)
        code += 2;
    if (buttons & Qt::MiddleButton)
        code += 4;
    return code;
}

std::int16_t shiftCode(Qt::KeyboardModifiers modifiers)
{
    std::int16_t code = 0;
    if (modifiers & Qt::ShiftModifier)
        code += 1;
    if (modifiers & Qt::ControlModifier)
        code += 2;
    if (modifiers & Qt::AltModifier)
        code += 4;
    return code;
}

PointerArgs argsWith(std::int16_t button, const QMouseEvent& event)
{
    const QPointF position = event.position();
    return {button, shiftCode(event.modifiers()), pixelsToTwips(position.x()), pixelsToTwips(position.y())};
}

}  // namespace

PointerArgs pressArgs(const QMouseEvent& event)
{
    return argsWith(buttonCode(event.button()), event);
}

PointerArgs moveArgs(const QMouseEvent& event)
{
    return argsWith(buttonCode(event.buttons()), event);
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setPicture(const QPixmap& picture)
{
    m_picture = picture;
    update();
}

void PictureBox::setBackground(const QColor& colour)
{
    m_background = colour;
    update();
}

void PictureBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    painter.drawPixmap(0, 0, m_picture);
}

void PictureBox::mousePressEvent(QMouseEvent* event)
{
    if (onPress)
        onPress(pressArgs(*event));
}

void PictureBox::mouseMoveEvent(QMouseEvent* event)
{
    if (onMove)
        onMove(moveArgs(*event));
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (onRelease)
        onRelease(pressArgs(*event));
}

NewsLabel::NewsLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setMargin(0);
    setIndent(0);
    setAutoFillBackground(false);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    m_laidOut.setTextFormat(Qt::PlainText);
}

void NewsLabel::setLeftTwips(float twips)
{
    m_left = twips;
    const int x = twipsToPixels(twips);
    if (x != this->x())
        move(x, m_top);
}

void NewsLabel::setTopTwips(float twips)
{
    m_top = twipsToPixels(twips);
    move(twipsToPixels(m_left), m_top);
}

void NewsLabel::setCaption(const QString& text)
{
    QString shown = text;
    if (shown.size() > kMaxCaptionLength) {
        // Cut between two characters as the user sees them, never inside one.
        QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, shown.left(kMaxCaptionLength + 1));
        boundaries.setPosition(kMaxCaptionLength);
        if (!boundaries.isAtBoundary())
            boundaries.toPreviousBoundary();
        shown.truncate(std::max<qsizetype>(boundaries.position(), 0));
        shown += QChar(0x2026);
    }
    setText(shown);
    m_laidOut.setText(shown);
    m_laidOut.prepare(QTransform(), font());
    resize(fontMetrics().horizontalAdvance(shown), height());
}

void NewsLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    // Centred on the height, as a label draws its line.
    painter.drawStaticText(QPointF(0, (height() - m_laidOut.size().height()) / 2), m_laidOut);
}

void NewsLabel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void NewsLabel::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void NewsLabel::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

CaptionFrame::CaptionFrame(const QString& caption, QWidget* parent) : QGroupBox(parent), m_caption(caption) {}

void CaptionFrame::showEvent(QShowEvent* event)
{
    if (title() != m_caption)
        setTitle(m_caption);
    QGroupBox::showEvent(event);
}

AutoSizeLabel::AutoSizeLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setMargin(0);
    setIndent(0);
    setCaption(text);
}

void AutoSizeLabel::setCaption(const QString& text)
{
    setText(text);
    // Measuring shapes the caption, and Japanese text loads a whole fallback font: a hidden label waits.
    if (isVisible())
        resize(fontMetrics().horizontalAdvance(text), height());
    else
        m_fitPending = true;
}

void AutoSizeLabel::showEvent(QShowEvent* event)
{
    if (m_fitPending) {
        m_fitPending = false;
        resize(fontMetrics().horizontalAdvance(text()), height());
    }
    QLabel::showEvent(event);
}

}  // namespace vantrel
