#pragma once

#include <vector>

#include <QImage>
#include <QString>

namespace vantrel::pictures {

enum class ButtonRole { Normal, Push, Next, Load };

struct KeyedImage {
    QString key;
    QImage image;
};

// Sizes are in pixels at 96 dpi; scale 2 draws the same picture anew with twice as many pixels each way,
// for screens of 192 dpi and 200 %.

// 30 x 20 key in one of its four looks.
QImage buttonPicture(ButtonRole role, int scale = 1);
// 568 x 28 window panel with its top/left bevel.
QImage backgroundPicture(int scale = 1);
// 425 x 23 ticker strip.
QImage stripPicture(int scale = 1);
// 48 x 48 slanted R in a square outline.
QImage iconPicture(int scale = 1);
// The 17 images of 16 x 16 for the tree's image list, in list order.
std::vector<KeyedImage> imageListPictures(int scale = 1);

// An opaque RGB32 canvas filled with one colour, at a fixed resolution so that files carry no machine's DPI.
// Its device pixel ratio is the scale, so a painter on it draws in 96 dpi pixels.
QImage canvas(int width, int height, QRgb fill, int scale = 1);

}  // namespace vantrel::pictures
