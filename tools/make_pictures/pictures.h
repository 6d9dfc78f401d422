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

// 30 x 20 key in one of its four looks.
QImage buttonPicture(ButtonRole role);
// 568 x 28 window panel with its top/left bevel.
QImage backgroundPicture();
// 425 x 23 ticker strip.
QImage stripPicture();
// 48 x 48 slanted R in a square outline.
QImage iconPicture();
// The 17 images of 16 x 16 for the tree's image list, in list order.
std::vector<KeyedImage> imageListPictures();

// An opaque RGB32 canvas filled with one colour, at a fixed resolution so that files carry no machine's DPI.
QImage canvas(int width, int height, QRgb fill);

}  // namespace vantrel::pictures
