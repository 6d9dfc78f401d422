#include "app/controls.h"

#include <algorithm>
#include <utility>

#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

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

// Glyphs per piece of the laid-out caption: a repaint of the strip draws a few pieces, not the whole headline.
constexpr qsizetype kGlyphsPerPiece = 32;

// Enough UTF-8 for the title's first kMaxTitleLength + 2 UTF-16 code units (at most 3 bytes each), and a
// character cut off at the end: a huge title is not decoded whole at every re-entry.
constexpr std::size_t kTitleBytesForCut = (NewsLabel::kMaxTitleLength + 2) * 3 + 3;

// A grapheme as long as this is no longer text but a run of marks: Unicode's stream-safe form allows 30
// combining marks after a base character.
constexpr qsizetype kGraphemeReach = 32;

// Where a title longer than kMaxTitleLength is cut: the last boundary between two characters as the user sees
// them, or between two code points where that boundary lies far back.
qsizetype titleCut(const QString& title)
{
    const qsizetype limit = NewsLabel::kMaxTitleLength;
    // A boundary depends on what precedes it and on the one code point after it.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, title.left(limit + 2));
    graphemes.setPosition(limit);
    if (!graphemes.isAtBoundary())
        graphemes.toPreviousBoundary();
    if (graphemes.position() >= limit - kGraphemeReach)
        return graphemes.position();
    return title[limit].isLowSurrogate() && title[limit - 1].isHighSurrogate() ? limit - 1 : limit;
}

// A box that takes a click is a button to screen readers; the strip is not.
class PictureBoxAccessible : public QAccessibleWidget {
public:
    explicit PictureBoxAccessible(PictureBox* box) : QAccessibleWidget(box) {}

    QAccessible::Role role() const override
    {
        return box()->onRelease ? QAccessible::Button : QAccessibleWidget::role();
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (box()->onRelease)
            names << pressAction();
        return names;
    }

    void doAction(const QString& action) override
    {
        // A release at (0, 0) runs the button's handler and leaves its picture, as the menu's refresh does.
        if (action == pressAction() && box()->onRelease)
            box()->onRelease(PointerArgs{1, 0, 0, 0});
        else
            QAccessibleWidget::doAction(action);
    }

private:
    PictureBox* box() const { return static_cast<PictureBox*>(widget()); }
};

QAccessibleInterface* pictureBoxAccessible(const QString& /*className*/, QObject* object)
{
    auto* box = qobject_cast<PictureBox*>(object);
    return box ? new PictureBoxAccessible(box) : nullptr;
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
    [[maybe_unused]] static const bool accessible = (QAccessible::installFactory(pictureBoxAccessible), true);
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
    // Between 100 % and 200 % a picture drawn for 200 % is scaled down: smoothly, or its thin lines break up.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_picture.devicePixelRatio() > 1);
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
    setText(text);
    // Lines placed as a static text places them, so the pixels are those of the whole text drawn at once.
    QTextLayout layout(text, font());
    layout.setCacheEnabled(true);
    const qreal leading = QFontMetricsF(font()).leading();
    qreal lineTop = -leading;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        lineTop += leading;
        line.setPosition(QPointF(0, lineTop));
        lineTop += line.height();
    }
    layout.endLayout();
    m_textHeight = layout.boundingRect().height();

    m_pieces.clear();
    const qreal inkMargin = QFontMetricsF(font()).height();
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype first = 0; first < glyphs.size(); first += kGlyphsPerPiece) {
            GlyphPiece piece;
            piece.glyphs.setRawFont(run.rawFont());
            piece.glyphs.setFlags(run.flags());
            piece.glyphs.setGlyphIndexes(glyphs.mid(first, kGlyphsPerPiece));
            piece.glyphs.setPositions(positions.mid(first, kGlyphsPerPiece));
            const QRectF ink = piece.glyphs.boundingRect();
            piece.left = ink.left() - inkMargin;
            piece.right = ink.right() + inkMargin;
            for (const QPointF& position : piece.glyphs.positions()) {
                piece.left = std::min(piece.left, position.x() - inkMargin);
                piece.right = std::max(piece.right, position.x() + inkMargin);
            }
            m_pieces.push_back(std::move(piece));
        }
    }
    resize(fontMetrics().horizontalAdvance(text), height());
}

void NewsLabel::setHeadline(std::string_view title, std::string_view source)
{
    QString shown = QString::fromUtf8(title.data(), static_cast<qsizetype>(std::min(title.size(), kTitleBytesForCut)));
    if (shown.size() > kMaxTitleLength) {
        shown.truncate(titleCut(shown));
        shown += QChar(0x2026);
    }
    setCaption(shown + QString::fromUtf8(source.data(), static_cast<qsizetype>(source.size())));
}

void NewsLabel::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    // The strip clips a long headline: the glyphs that cannot reach the painted part are not drawn.
    const QRect area = event->rect();
    // Centred on the height, as a label draws its line.
    const QPointF origin(0, (height() - m_textHeight) / 2);
    for (const GlyphPiece& piece : m_pieces) {
        if (piece.right >= area.left() && piece.left <= area.right() + 1)
            painter.drawGlyphRun(origin, piece.glyphs);
    }
}

bool NewsLabel::movedTooFar(const QMouseEvent& event) const
{
    return (event.globalPosition() - m_pressAt).manhattanLength() > QApplication::startDragDistance();
}

void NewsLabel::mousePressEvent(QMouseEvent* event)
{
    // The left button alone; any other press spoils the click.
    m_clickPending = event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton;
    m_pressAt = event->globalPosition();
    event->accept();
}

void NewsLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (m_clickPending && movedTooFar(*event))
        m_clickPending = false;
    event->accept();
}

void NewsLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = std::exchange(m_clickPending, false) && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint()) && !movedTooFar(*event);
    event->accept();
    if (click && onClick)
        onClick();
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
