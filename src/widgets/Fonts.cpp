#include "Fonts.h"

QFont designFont(const QString &face, double points, int weight)
{
    QFont font(face);
    font.setPixelSize(qRound(points * 96.0 / 72.0));
    font.setWeight(QFont::Weight(weight));
    return font;
}

void installFontSubstitutions()
{
    QFont::insertSubstitutions(gothicFace(), {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    QFont::insertSubstitution(sevenSegmentFace(), QStringLiteral("DSEG7 Classic"));
}
