#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

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
