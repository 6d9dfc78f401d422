#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

namespace vantrel::pictures {

namespace {

constexpr int kDotsPerMeter = 3780;  // 96 dpi

constexpr QRgb grey(int level)
{
    return qRgb(level, level, level);
}

int scaleOf(const QImage& image)
{
    return static_cast<int>(image.devicePixelRatio());
}

// Fills whole 96 dpi pixels: a square of scale x scale device pixels each.
void fillPixels(QImage& image, int fromX, int toX, int fromY, int toY, QRgb colour)
{
    const int scale = scaleOf(image);
    for (int y = fromY * scale; y < (toY + 1) * scale; ++y) {
        for (int x = fromX * scale; x < (toX + 1) * scale; ++x)
            image.setPixel(x, y, colour);
    }
}

void fillRow(QImage& image, int y, int fromX, int toX, QRgb colour)
{
    fillPixels(image, fromX, toX, y, y, colour);
}

void fillColumn(QImage& image, int x, int fromY, int toY, QRgb colour)
{
    fillPixels(image, x, x, fromY, toY, colour);
}

// Two-pixel bevel: the light pair runs along the top and left, the dark pair owns the bottom-right corner.
void drawBevel(QImage& image, QRgb outerTopLeft, QRgb innerTopLeft, QRgb innerBottomRight, QRgb outerBottomRight)
{
    const int right = image.width() / scaleOf(image) - 1;
    const int bottom = image.height() / scaleOf(image) - 1;
    fillRow(image, 0, 0, right - 1, outerTopLeft);
    fillColumn(image, 0, 0, bottom - 1, outerTopLeft);
    fillRow(image, 1, 1, right - 2, innerTopLeft);
    fillColumn(image, 1, 1, bottom - 2, innerTopLeft);
    fillRow(image, bottom, 0, right, outerBottomRight);
    fillColumn(image, right, 0, bottom, outerBottomRight);
    fillRow(image, bottom - 1, 1, right - 1, innerBottomRight);
    fillColumn(image, right - 1, 1, bottom - 1, innerBottomRight);
}

const QColor kGlyphColour(0xE6, 0xE6, 0xE6);

void drawNextGlyph(QImage& image)
{
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyphColour);
    const QPolygonF triangle{QPointF(10.0, 5.5), QPointF(16.0, 10.0), QPointF(10.0, 14.5)};
    painter.drawPolygon(triangle);
    painter.drawRect(QRectF(17.0, 5.5, 2.0, 9.0));
}

void drawLoadGlyph(QImage& image)
{
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    const QPointF centre(15.0, 10.5);
    const double radius = 4.0;
    const double startDegrees = 30.0;
    const double sweepDegrees = -290.0;  // clockwise on screen, ending at the top with a gap to its right

    QPainterPath arc;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(box, startDegrees);
    arc.arcTo(box, startDegrees, sweepDegrees);
    painter.setPen(QPen(kGlyphColour, 1.6, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arc);

    // Arrowhead at the end of the sweep, pointing along the clockwise tangent.
    const double end = (startDegrees + sweepDegrees) * std::numbers::pi / 180.0;
    const QPointF tip = arc.currentPosition();
    const QPointF along(std::sin(end), std::cos(end));
    const QPointF across(along.y(), -along.x());
    const QPolygonF head{tip + along * 3.2, tip + across * 2.4 - along * 0.4, tip - across * 2.4 - along * 0.4};
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyphColour);
    painter.drawPolygon(head);
}

// Distance-based shade: the edge value at the border, reaching the plain level after `length` pixels.
int edgeShade(double distance, int edgeLevel, int plainLevel, int length)
{
    if (distance >= length)
        return plainLevel;
    return edgeLevel + static_cast<int>((plainLevel - edgeLevel) * std::max(distance, 0.0) / length);
}

// Where a device pixel's centre lies, in 96 dpi pixels from the centre of the first one.
double at96Dpi(int devicePixel, int scale)
{
    return (devicePixel + 0.5) / scale - 0.5;
}

}  // namespace

QImage canvas(int width, int height, QRgb fill, int scale)
{
    QImage image(width * scale, height * scale, QImage::Format_RGB32);
    image.setDotsPerMeterX(kDotsPerMeter * scale);
    image.setDotsPerMeterY(kDotsPerMeter * scale);
    image.setDevicePixelRatio(scale);
    image.fill(fill);
    return image;
}

QImage buttonPicture(ButtonRole role, int scale)
{
    constexpr QRgb kFace = grey(0x1B);
    constexpr QRgb kPressedFace = grey(0x16);
    constexpr QRgb kLight = grey(0x51);
    constexpr QRgb kLightInner = grey(0x38);
    constexpr QRgb kDarkInner = grey(0x0E);
    constexpr QRgb kDark = grey(0x04);

    if (role == ButtonRole::Push) {
        QImage image = canvas(30, 20, kPressedFace, scale);
        drawBevel(image, kDark, kDarkInner, kLightInner, kLight);
        // A shadow row under the sunken top edge makes the face look shifted down by one pixel.
        fillRow(image, 2, 2, 30 - 3, grey(0x11));
        fillColumn(image, 2, 2, 20 - 3, grey(0x11));
        return image;
    }

    QImage image = canvas(30, 20, kFace, scale);
    drawBevel(image, kLight, kLightInner, kDarkInner, kDark);
    if (role == ButtonRole::Next)
        drawNextGlyph(image);
    else if (role == ButtonRole::Load)
        drawLoadGlyph(image);
    return image;
}

QImage backgroundPicture(int scale)
{
    QImage image = canvas(568, 28, grey(0x00), scale);
    const int right = 568 - 1;
    const int bottom = 28 - 1;
    fillRow(image, 0, 0, right, grey(0x4C));
    fillColumn(image, 0, 0, bottom, grey(0x4C));
    fillRow(image, 1, 1, right, grey(0x31));
    fillColumn(image, 1, 1, bottom, grey(0x31));
    return image;
}

QImage stripPicture(int scale)
{
    constexpr int kPlain = 0x40;
    constexpr int kHeight = 23;
    QImage image = canvas(425, kHeight, grey(kPlain), scale);
    for (int y = 0; y < image.height(); ++y) {
        const double fromTop = at96Dpi(y, scale);
        const int vertical =
            std::min(edgeShade(fromTop, 0x1C, kPlain, 5), edgeShade(kHeight - 1 - fromTop, 0x23, kPlain, 4));
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, grey(std::min(vertical, edgeShade(at96Dpi(x, scale), 0x1C, kPlain, 5))));
    }
    return image;
}

QImage iconPicture(int scale)
{
    QImage image = canvas(48, 48, qRgb(0xFF, 0xFF, 0xFF), scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(QPen(Qt::black, 2.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(5.0, 5.0, 38.0, 38.0));

    // A bold R on a 21 x 28 grid, built from stem, bowl and leg so it needs no installed font.
    QPainterPath stem;
    stem.addRect(QRectF(0.0, 0.0, 6.0, 28.0));

    QPainterPath bowlOuter;
    bowlOuter.moveTo(0.0, 0.0);
    bowlOuter.lineTo(11.0, 0.0);
    bowlOuter.arcTo(QRectF(3.0, 0.0, 16.0, 16.0), 90.0, -180.0);
    bowlOuter.lineTo(0.0, 16.0);
    bowlOuter.closeSubpath();

    QPainterPath counter;
    counter.moveTo(6.0, 4.5);
    counter.lineTo(11.0, 4.5);
    counter.arcTo(QRectF(7.5, 4.5, 7.0, 7.0), 90.0, -180.0);
    counter.lineTo(6.0, 11.5);
    counter.closeSubpath();

    QPainterPath leg;
    leg.addPolygon(QPolygonF{QPointF(8.0, 14.0), QPointF(14.5, 14.0), QPointF(21.5, 28.0), QPointF(15.0, 28.0)});
    leg.closeSubpath();

    const QPainterPath letter = stem.united(bowlOuter.subtracted(counter)).united(leg);

    // Slant to the right: the top moves right by a fifth of the height.
    constexpr double kSlant = 0.2;
    QTransform place;
    place.translate(12.0, 10.0);
    place.translate(kSlant * 28.0, 0.0);
    place.shear(-kSlant, 0.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawPath(place.map(letter));
    return image;
}

}  // namespace vantrel::pictures
