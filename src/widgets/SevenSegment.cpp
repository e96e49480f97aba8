#include "SevenSegment.h"

#include "Geometry.h"

#include <QFontMetrics>
#include <QLabel>

QFont sevenSegmentFont(double points, int weight, const QString &sample, QSize box)
{
    QFont font = designFont(sevenSegmentFace(), points, weight);
    for (int px = font.pixelSize(); px > 6; --px) {
        font.setPixelSize(px);
        const QFontMetrics fm(font);
        if (fm.horizontalAdvance(sample) <= box.width() && fm.ascent() <= box.height())
            break;
    }
    return font;
}

void growToFitText(QLabel *label)
{
    const int needed = QFontMetrics(label->font()).height();
    if (label->height() < needed)
        label->resize(label->width(), needed);
}
