#include "pictures.h"

#include <cmath>
#include <functional>
#include <numbers>

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace vantrel::pictures {

namespace {

const QColor kOutline(0x70, 0x70, 0x70);
const QColor kYellow(0xF2, 0xC8, 0x44);
const QColor kBlueGrey(0x7E, 0x92, 0xAE);
const QColor kGreen(0x2E, 0xA0, 0x43);
const QColor kBlue(0x1F, 0x6F, 0xD0);
const QColor kRed(0xD0, 0x22, 0x22);

// Coordinates on a 16 x 16 grid; half-pixel positions keep one-pixel lines crisp.
void drawPage(QPainter& p, const QColor& paper = Qt::white, const QColor& edge = kOutline)
{
    const QPolygonF sheet{QPointF(2.5, 0.5), QPointF(10.5, 0.5), QPointF(13.5, 3.5), QPointF(13.5, 15.5),
                          QPointF(2.5, 15.5)};
    p.setPen(QPen(edge, 1.0));
    p.setBrush(paper);
    p.drawPolygon(sheet);
    p.drawPolyline(QPolygonF{QPointF(10.5, 0.5), QPointF(10.5, 3.5), QPointF(13.5, 3.5)});
}

void drawGlobe(QPainter& p, const QPointF& centre, double radius, const QColor& sea, const QColor& land)
{
    QPainterPath disc;
    disc.addEllipse(centre, radius, radius);
    p.setPen(Qt::NoPen);
    p.setBrush(sea);
    p.drawPath(disc);

    QPainterPath continents;
    continents.addEllipse(centre + QPointF(-1.6, -1.4), 1.8, 2.2);
    continents.addEllipse(centre + QPointF(1.8, 1.6), 2.0, 1.5);
    p.setBrush(land);
    p.drawPath(continents.intersected(disc));

    p.setPen(QPen(sea.darker(150), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(disc);
}

void drawMeridians(QPainter& p, const QPointF& centre, double radius, const QColor& colour)
{
    p.setPen(QPen(colour, 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius * 0.45, radius);
    p.drawLine(QPointF(centre.x() - radius, centre.y()), QPointF(centre.x() + radius, centre.y()));
    p.drawLine(QPointF(centre.x(), centre.y() - radius), QPointF(centre.x(), centre.y() + radius));
}

void drawFolder(QPainter& p, const QColor& body, bool open)
{
    QPainterPath back;
    back.moveTo(1.5, 13.5);
    back.lineTo(1.5, 3.5);
    back.lineTo(6.0, 3.5);
    back.lineTo(7.5, 5.0);
    back.lineTo(14.5, 5.0);
    back.lineTo(14.5, 13.5);
    back.closeSubpath();
    p.setPen(QPen(body.darker(170), 1.0));
    p.setBrush(open ? body.darker(115) : body);
    p.drawPath(back);

    if (open) {
        const QPolygonF flap{QPointF(1.5, 13.5), QPointF(4.0, 7.5), QPointF(15.5, 7.5), QPointF(13.0, 13.5)};
        p.setBrush(body.lighter(115));
        p.drawPolygon(flap);
    } else {
        p.setPen(QPen(body.lighter(135), 1.0));
        p.drawLine(QPointF(2.5, 6.5), QPointF(13.5, 6.5));
    }
}

void drawCross(QPainter& p, const QPointF& centre, double half, double width)
{
    p.setPen(QPen(kRed, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(-half, -half), centre + QPointF(half, half));
    p.drawLine(centre + QPointF(half, -half), centre + QPointF(-half, half));
}

void drawRoundArrowButton(QPainter& p, bool pointsLeft)
{
    p.setPen(QPen(kGreen.darker(150), 1.0));
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(8.0, 8.0), 7.0, 7.0);

    QPolygonF arrow{QPointF(3.5, 8.0),  QPointF(7.5, 4.0), QPointF(7.5, 6.5), QPointF(12.5, 6.5),
                    QPointF(12.5, 9.5), QPointF(7.5, 9.5), QPointF(7.5, 12.0)};
    if (!pointsLeft) {
        for (QPointF& point : arrow)
            point.setX(16.0 - point.x());
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
}

// An arc with an arrowhead at its end; angles in degrees, counter-clockwise on screen.
void drawCurvedArrow(QPainter& p, const QPointF& centre, double radius, double start, double sweep,
                     const QColor& colour)
{
    QPainterPath arc;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(box, start);
    arc.arcTo(box, start, sweep);
    p.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);

    const double end = (start + sweep) * std::numbers::pi / 180.0;
    const double turn = sweep < 0 ? 1.0 : -1.0;
    const QPointF tip = arc.currentPosition();
    const QPointF along(turn * std::sin(end), turn * std::cos(end));
    const QPointF across(along.y(), -along.x());
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF{tip + along * 2.4, tip + across * 2.4 - along * 0.4, tip - across * 2.4 - along * 0.4});
}

void drawStar(QPainter& p, const QPointF& centre, double outer, double inner)
{
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
        const double r = (i % 2 == 0) ? outer : inner;
        star << centre + QPointF(r * std::cos(angle), r * std::sin(angle));
    }
    p.setPen(QPen(QColor(0xB0, 0x80, 0x10), 0.8));
    p.setBrush(QColor(0xFF, 0xD4, 0x2A));
    p.drawPolygon(star);
}

void drawPlus(QPainter& p, const QPointF& centre, double half, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRect(QRectF(centre.x() - half, centre.y() - 1.0, 2 * half, 2.0));
    p.drawRect(QRectF(centre.x() - 1.0, centre.y() - half, 2.0, 2 * half));
}

void drawScaledFolder(QPainter& p, const QPointF& offset, double scale)
{
    p.save();
    p.translate(offset);
    p.scale(scale, scale);
    drawFolder(p, kYellow, false);
    p.restore();
}

using Drawing = std::function<void(QPainter&)>;

QImage draw(const Drawing& drawing, int scale)
{
    QImage image = canvas(16, 16, qRgb(0xFF, 0xFF, 0xFF), scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing(painter);
    return image;
}

}  // namespace

std::vector<KeyedImage> imageListPictures(int scale)
{
    const std::vector<std::pair<QString, Drawing>> drawings{
        {QStringLiteral("XML"),
         [](QPainter& p) {
             drawPage(p);
             drawGlobe(p, QPointF(9.0, 10.0), 4.5, kBlue, kGreen);
         }},
        {QStringLiteral("XML2"),
         [](QPainter& p) {
             drawPage(p);
             drawGlobe(p, QPointF(9.0, 10.0), 4.5, QColor(0x5C, 0xB8, 0x4C), QColor(0x2C, 0x80, 0x2C));
             drawMeridians(p, QPointF(9.0, 10.0), 4.5, QColor(0x1E, 0x60, 0x1E));
         }},
        {QStringLiteral("FAV_CLOSE"), [](QPainter& p) { drawFolder(p, kBlueGrey, false); }},
        {QStringLiteral("FAV_OPEN"), [](QPainter& p) { drawFolder(p, kBlueGrey, true); }},
        {QStringLiteral("CLOSE"), [](QPainter& p) { drawFolder(p, kYellow, false); }},
        {QStringLiteral("OPEN"), [](QPainter& p) { drawFolder(p, kYellow, true); }},
        {QStringLiteral("IE"),
         [](QPainter& p) {
             drawPage(p);
             // A lower-case e: a bar across the middle of an almost closed ring.
             const QPointF centre(8.0, 9.5);
             QPainterPath ring;
             const QRectF box(centre.x() - 3.5, centre.y() - 3.5, 7.0, 7.0);
             ring.arcMoveTo(box, 0.0);
             ring.arcTo(box, 0.0, 315.0);
             p.setPen(QPen(kBlue, 1.7, Qt::SolidLine, Qt::FlatCap));
             p.setBrush(Qt::NoBrush);
             p.drawPath(ring);
             p.drawLine(QPointF(centre.x() - 3.5, centre.y()), QPointF(centre.x() + 3.5, centre.y()));
         }},
        {QStringLiteral("DOC"),
         [](QPainter& p) {
             drawPage(p, QColor(0xF8, 0xE2, 0x7A), QColor(0xA0, 0x86, 0x30));
             p.setPen(QPen(QColor(0x80, 0x70, 0x40), 1.0));
             for (double y = 5.5; y < 14.0; y += 2.0)
                 p.drawLine(QPointF(4.5, y), QPointF(11.5, y));
         }},
        {QStringLiteral("BACK"), [](QPainter& p) { drawRoundArrowButton(p, true); }},
        {QStringLiteral("TAB_DELETE"),
         [](QPainter& p) {
             drawFolder(p, kYellow, false);
             drawCross(p, QPointF(11.5, 11.5), 2.5, 2.0);
         }},
        {QStringLiteral("HOME"),
         [](QPainter& p) {
             p.setPen(QPen(QColor(0x70, 0x48, 0x20), 1.0));
             p.setBrush(QColor(0xF2, 0xE4, 0xC4));
             p.drawRect(QRectF(3.5, 7.5, 9.0, 7.0));
             p.setBrush(QColor(0x8A, 0x5A, 0x2C));
             p.drawRect(QRectF(7.0, 10.5, 2.5, 4.0));
             p.setPen(QPen(QColor(0x80, 0x20, 0x10), 1.0));
             p.setBrush(QColor(0xC8, 0x40, 0x2A));
             p.drawPolygon(QPolygonF{QPointF(0.5, 8.5), QPointF(8.0, 1.5), QPointF(15.5, 8.5)});
         }},
        {QStringLiteral("FORWARD"), [](QPainter& p) { drawRoundArrowButton(p, false); }},
        {QStringLiteral("TAB_ADD"),
         [](QPainter& p) {
             drawScaledFolder(p, QPointF(-0.5, -1.0), 0.8);
             drawScaledFolder(p, QPointF(3.0, 3.5), 0.8);
         }},
        {QStringLiteral("REFRESH"),
         [](QPainter& p) {
             drawPage(p);
             drawCurvedArrow(p, QPointF(8.0, 9.5), 3.8, 170.0, -115.0, kGreen);
             drawCurvedArrow(p, QPointF(8.0, 9.5), 3.8, -10.0, -115.0, kGreen);
         }},
        {QStringLiteral("STOP"),
         [](QPainter& p) {
             drawPage(p);
             drawCross(p, QPointF(8.0, 9.0), 3.5, 2.2);
         }},
        {QStringLiteral("FAV_ADD"),
         [](QPainter& p) {
             p.setPen(QPen(kOutline, 1.0));
             p.setBrush(Qt::white);
             p.drawRect(QRectF(0.5, 1.5, 13.0, 11.0));
             p.setPen(Qt::NoPen);
             p.setBrush(kBlue);
             p.drawRect(QRectF(1.0, 2.0, 12.0, 2.0));
             drawStar(p, QPointF(6.5, 8.5), 3.8, 1.6);
             drawPlus(p, QPointF(12.5, 12.5), 3.0, kGreen.darker(110));
         }},
        {QStringLiteral("FAV_ORDER"),
         [](QPainter& p) {
             drawScaledFolder(p, QPointF(1.5, -1.0), 0.8);
             drawScaledFolder(p, QPointF(1.5, 5.0), 0.8);
         }},
    };

    std::vector<KeyedImage> images;
    images.reserve(drawings.size());
    for (const auto& [key, drawing] : drawings)
        images.push_back({key, draw(drawing, scale)});
    return images;
}

}  // namespace vantrel::pictures
