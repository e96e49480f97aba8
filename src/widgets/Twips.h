#pragma once

#include <QRect>

// Designs are measured in twips; on screen 15 twips make one logical pixel.
constexpr double kTwipsPerPixel = 15.0;

inline int twipsToPixels(double twips)
{
    return qRound(twips / kTwipsPerPixel);
}

inline QRect twipsRect(double left, double top, double width, double height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}
