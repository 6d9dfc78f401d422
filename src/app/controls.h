#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

class QMouseEvent;

namespace vantrel {

// Pointer event arguments as the handlers take them: Button and Shift, X and Y in twips.
struct PointerArgs {
    std::int16_t button;
    std::int16_t shift;
    float x;
    float y;
};

// For a press or release, the one button; for a move, the sum of the buttons held (1 left, 2 right, 4 middle).
PointerArgs pressArgs(const QMouseEvent& event);
PointerArgs moveArgs(const QMouseEvent& event);

using PointerHandler = std::function<void(const PointerArgs&)>;

// A picture box: shows its picture from the top-left corner and hands its pointer events to the window.
// One that takes a click is a button to screen readers, its press action a left release at the top-left corner.
class PictureBox : public QWidget {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent);

    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return m_picture; }
    void setBackground(const QColor& colour);

    PointerHandler onPress;
    PointerHandler onMove;
    PointerHandler onRelease;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_picture;
    QColor m_background;
};

// The headline: plain text only, white on transparent, its left edge kept in exact single-precision twips.
// The text is laid out once per caption, not at every step of the scroll, and a repaint draws only the glyphs
// that can fall inside the part being painted.
class NewsLabel : public QLabel {
public:
    // No real headline is longer; a title past it is cut there, with "…" behind, so that what a feed holds
    // cannot make a caption expensive to lay out.
    static constexpr qsizetype kMaxTitleLength = 1000;

    explicit NewsLabel(QWidget* parent);

    float leftTwips() const { return m_left; }
    void setLeftTwips(float twips);
    void setTopTwips(float twips);
    // Takes the caption and, at once, the width of the caption drawn on one line.
    void setCaption(const QString& text);
    // A news row: the title, cut between two characters as the user sees them when it is too long, then the
    // source whole.
    void setHeadline(std::string_view title, std::string_view source);

    // The left button released over the headline, the pointer no farther than the drag distance from the press.
    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Pointer events over the headline belong to it and are no more than a click (a label would pass them on).
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A short run of the caption's glyphs and the horizontal span its ink can reach.
    struct GlyphPiece {
        QGlyphRun glyphs;
        qreal left;
        qreal right;
    };

    bool movedTooFar(const QMouseEvent& event) const;

    float m_left = 0;
    int m_top = 0;
    // Global, since the headline moves under a pointer that holds still.
    QPointF m_pressAt;
    bool m_clickPending = false;
    qreal m_textHeight = 0;
    std::vector<GlyphPiece> m_pieces;
};

// A group box that takes its title only when shown: a title is measured at once, which loads the window's font,
// and the frame of counters is never shown.
class CaptionFrame : public QGroupBox {
    Q_OBJECT

public:
    CaptionFrame(const QString& caption, QWidget* parent);
    const QString& caption() const { return m_caption; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_caption;
};

// A label that sizes itself to its plain-text caption on one line.
class AutoSizeLabel : public QLabel {
public:
    AutoSizeLabel(const QString& text, QWidget* parent);
    void setCaption(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool m_fitPending = false;
};

}  // namespace vantrel
