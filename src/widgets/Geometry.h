#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <cstdint>

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

// Colours are stored as 0x00BBGGRR.
inline QColor bgrColor(uint32_t bgr)
{
    return QColor(int(bgr & 0xff), int((bgr >> 8) & 0xff), int((bgr >> 16) & 0xff));
}

inline uint32_t toBgr(const QColor &c)
{
    return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

namespace Colors {
constexpr uint32_t Red = 255;
constexpr uint32_t Green = 65280;
constexpr uint32_t Yellow = 65535;
constexpr uint32_t Grey = 8421504;
constexpr uint32_t LightGrey = 12632256;
constexpr uint32_t DarkRed = 64;     // panels behind digits
constexpr uint32_t DimRed = 590175;  // unlit digit segments
} // namespace Colors

// The design's two font faces; installFontSubstitutions() maps them onto installed fonts.
inline QString gothicFace()
{
    return QStringLiteral("ＭＳ Ｐゴシック");
}
inline QString sevenSegmentFace()
{
    return QStringLiteral("YournameD7Financial");
}

// Points are taken at 96 logical dpi, as the twip geometry is, so text fits its box on every screen.
QFont designFont(const QString &face, double points, int weight);

// Maps the design's faces to IPAPGothic and DSEG7 Classic; call once before any window is built.
void installFontSubstitutions();
