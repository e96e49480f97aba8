#include "TextFit.h"

#include "Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTransform>
#include <cmath>

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

// Whether any pixel of text, drawn in box as a label draws it and moved by shift, falls outside the box,
// at the usual and at twice the usual scale.
bool spillsWhenDrawn(const QFont &font, const QString &text, const QRect &box, Qt::Alignment alignment, QPointF shift)
{
    constexpr int room = 4;
    for (qreal scale : {1.0, 2.0}) {
        const QRect inside(QPoint(room, room) * scale, box.size() * scale);
        QImage image((box.size() + QSize(2 * room, 2 * room)) * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setFont(font);
        painter.translate(QPointF(room, room) + shift);
        painter.drawText(QRect(QPoint(), box.size()), int(alignment) | Qt::TextDontClip, text);
        painter.end();
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(line[x]) != 0 && !inside.contains(x, y))
                    return true;
        }
    }
    return false;
}

// Whether text fits box at this font: its ink inside where the alignment puts it. Where the ink is no
// larger than the box but a glyph's side bearing leans a sliver of it out (an "A" or a "V" before the
// pen), shift is the move of whole pixels that brings every drawn pixel inside: a caption moved by a
// pixel reads better than one shrunk to a speck.
bool fits(const QFont &font, const QString &text, const QRect &box, Qt::Alignment alignment, bool wholeCells,
          QPointF *shift)
{
    const QRectF area(box);
    const QFontMetricsF fm(font);
    const qreal advance = fm.horizontalAdvance(text);
    const QPointF pen = penOrigin(fm, advance, area, alignment);
    if (wholeCells && (pen.x() < area.left() || pen.x() + advance > area.right()))
        return false;
    // The ink from the glyphs' outlines, not the rounded metrics: a letter that overhangs its advance or
    // dips below the baseline by a fraction of a pixel still loses a line of pixels at twice the scale.
    QPainterPath outline;
    outline.addText(pen, font, text);
    const QRectF ink = outline.boundingRect();
    *shift = QPointF();
    if (ink.isNull() || area.contains(ink))
        return true;
    if (wholeCells || ink.width() > area.width() || ink.height() > area.height())
        return false;
    // The outline says which way to move; the drawn pixels say whether the move is enough.
    const auto inward = [](qreal low, qreal high, qreal boxLow, qreal boxHigh) {
        return low < boxLow ? std::ceil(boxLow - low) : high > boxHigh ? std::floor(boxHigh - high) : 0.0;
    };
    const qreal dx = inward(ink.left(), ink.right(), area.left(), area.right());
    const qreal dy = inward(ink.top(), ink.bottom(), area.top(), area.bottom());
    for (qreal x : {dx, dx + (dx > 0 ? 1 : dx < 0 ? -1 : 0)})
        for (qreal y : {dy, dy + (dy > 0 ? 1 : dy < 0 ? -1 : 0)})
            if (area.contains(ink.translated(x, y)) && !spillsWhenDrawn(font, text, box, alignment, QPointF(x, y))) {
                *shift = QPointF(x, y);
                return true;
            }
    return false;
}

} // namespace

FittedText fitText(const QFont &font, const QString &text, const QRect &box, Qt::Alignment alignment, bool wholeCells)
{
    FittedText fitted{font, QPointF()};
    const int designed = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    for (int px = designed; px >= kSmallestPixelSize; --px) {
        fitted.font.setPixelSize(px);
        if (fits(fitted.font, text, box, alignment, wholeCells, &fitted.shift))
            break;
    }
    if (fitted.font.pixelSize() == designed)
        fitted.font = font; // the caption fits as designed: keep the font exactly as given
    return fitted;
}

QFont sevenSegmentFont(double points, int weight, const QString &sample, QSize box)
{
    return fitText(designFont(sevenSegmentFace(), points, weight), sample, QRect(QPoint(), box),
                   Qt::AlignLeft | Qt::AlignTop, true)
        .font;
}

const FittedText &FittedLabel::fitted() const
{
    const QRect box = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    if (box != fittedBox_ || font() != fittedFrom_ || alignment() != fittedAlignment_) {
        fitted_.clear();
        fittedBox_ = box;
        fittedFrom_ = font();
        fittedAlignment_ = alignment();
    }
    auto it = fitted_.constFind(text());
    if (it == fitted_.constEnd()) {
        if (fitted_.size() >= 64) // a caption that keeps changing (a clock) keeps no more than a few
            fitted_.clear();
        it = fitted_.insert(text(), fitText(font(), text(), box, alignment(), false));
    }
    return *it;
}

QFont FittedLabel::drawnFont() const
{
    return fitted().font;
}

void FittedLabel::drawCaption(QPainter &painter) const
{
    const FittedText &caption = fitted();
    painter.setFont(caption.font);
    painter.translate(caption.shift);
    const QRect box = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    // The fit keeps the ink inside; clipping to the box as well would only draw the glyphs another way.
    const int flags = int(QStyle::visualAlignment(layoutDirection(), alignment())) | Qt::TextDontClip;
    style()->drawItemText(&painter, box, flags, palette(), isEnabled(), text(), foregroundRole());
}

void FittedLabel::paintEvent(QPaintEvent *event)
{
    // Rich, wrapped, indented or framed text is laid out by QLabel itself.
    if (textFormat() != Qt::PlainText || wordWrap() || indent() > 0 || frameWidth() > 0 || text().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    // Glyphs larger than Qt's glyph cache keeps have their outlines filled afresh on every paint: a readout
    // that changes several times a second keeps its recent captions drawn instead. Only where the label's
    // pixels fall on whole device pixels, so that the picture lands where the glyphs would.
    const QTransform toDevice = painter.deviceTransform();
    const qreal ratio = toDevice.m11();
    const auto whole = [](qreal v) { return v == std::floor(v); };
    const bool aligned = toDevice.type() <= QTransform::TxScale && toDevice.m22() == ratio && ratio >= 1 &&
                         whole(ratio) && whole(toDevice.dx()) && whole(toDevice.dy());
    constexpr int kLargestCachedGlyph = 64; // pixels
    if (!aligned || QFontInfo(fitted().font).pixelSize() * ratio <= kLargestCachedGlyph) {
        drawCaption(painter);
        return;
    }
    const QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole());
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (pictures_.isEmpty() || pictures_.first().image.size() != pixels || pictures_.first().ink != ink ||
        pictures_.first().font != fitted().font)
        pictures_.clear();
    qsizetype found = 0;
    while (found < pictures_.size() && pictures_[found].text != text())
        ++found;
    if (found == pictures_.size()) {
        constexpr qsizetype kPictures = 12;
        if (pictures_.size() == kPictures)
            pictures_.removeLast();
        Picture picture{text(), ink, fitted().font, QImage(pixels, QImage::Format_ARGB32_Premultiplied)};
        picture.image.setDevicePixelRatio(ratio);
        picture.image.fill(Qt::transparent);
        QPainter drawing(&picture.image);
        drawCaption(drawing);
        drawing.end();
        pictures_.prepend(std::move(picture));
    } else if (found > 0) {
        pictures_.move(found, 0);
    }
    painter.drawImage(QPoint(), pictures_.first().image);
}

void growToFitText(QLabel *label)
{
    const int needed = QFontMetrics(label->font()).height();
    if (label->height() < needed)
        label->resize(label->width(), needed);
}
