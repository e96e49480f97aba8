#include "TextFit.h"

#include "Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace {

// However small: a cut-off number misreads as another ("10000" as "000"), a tiny one does not.
constexpr int kSmallestPixelSize = 1;

// Where QPainter::drawText puts the pen for one line of text in box.
QPointF penOrigin(const QFontMetricsF &fm, qreal advance, const QRectF &box, Qt::Alignment alignment)
{
    qreal x = box.left();
    if (alignment & Qt::AlignRight)
        x = box.right() - advance;
    else if (alignment & Qt::AlignHCenter)
        x = box.left() + (box.width() - advance) / 2;
    qreal y = box.top();
    if (alignment & Qt::AlignBottom)
        y = box.bottom() - fm.height();
    else if (alignment & Qt::AlignVCenter)
        y = box.top() + (box.height() - fm.height()) / 2;
    return QPointF(x, y + fm.ascent());
}

bool fits(const QFont &font, const QString &text, const QRectF &box, Qt::Alignment alignment, bool wholeCells)
{
    const QFontMetricsF fm(font);
    const qreal advance = fm.horizontalAdvance(text);
    const QPointF pen = penOrigin(fm, advance, box, alignment);
    if (wholeCells && (pen.x() < box.left() || pen.x() + advance > box.right()))
        return false;
    // The ink from the glyphs' outlines, not the rounded metrics: a letter that overhangs its advance or
    // dips below the baseline by a fraction of a pixel still loses a line of pixels at twice the scale.
    QPainterPath outline;
    outline.addText(pen, font, text);
    const QRectF ink = outline.boundingRect();
    return ink.isNull() || box.contains(ink);
}

} // namespace

QFont fitTextFont(const QFont &font, const QString &text, const QRect &box, Qt::Alignment alignment, bool wholeCells)
{
    QFont fitted = font;
    const int designed = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    const QRectF area(box);
    for (int px = designed; px >= kSmallestPixelSize; --px) {
        fitted.setPixelSize(px);
        if (fits(fitted, text, area, alignment, wholeCells))
            break;
    }
    if (fitted.pixelSize() == designed)
        return font; // the caption fits as designed: keep the font exactly as given
    return fitted;
}

QFont sevenSegmentFont(double points, int weight, const QString &sample, QSize box)
{
    return fitTextFont(designFont(sevenSegmentFace(), points, weight), sample, QRect(QPoint(), box),
                       Qt::AlignLeft | Qt::AlignTop, true);
}

QFont FittedLabel::drawnFont() const
{
    const QRect box = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    if (text() != fittedText_ || box != fittedBox_ || font() != fittedFrom_) {
        fitted_ = fitTextFont(font(), text(), box, alignment());
        fittedText_ = text();
        fittedBox_ = box;
        fittedFrom_ = font();
    }
    return fitted_;
}

void FittedLabel::paintEvent(QPaintEvent *event)
{
    // Rich, wrapped, indented or framed text is laid out by QLabel itself.
    if (textFormat() != Qt::PlainText || wordWrap() || indent() > 0 || frameWidth() > 0 || text().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(drawnFont());
    const QRect box = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    // The fit keeps the ink inside; clipping to the box as well would only draw the glyphs another way.
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment())) | Qt::TextDontClip;
    style()->drawItemText(&painter, box, flags, palette(), isEnabled(), text(), foregroundRole());
}

void growToFitText(QLabel *label)
{
    const int needed = QFontMetrics(label->font()).height();
    if (label->height() < needed)
        label->resize(label->width(), needed);
}
