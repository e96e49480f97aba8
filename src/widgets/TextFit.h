#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QString>

// Installed faces stand in for the design's and often run wider or taller. These keep a text whole in
// the box it was designed for: at the design's size where it fits, otherwise at the largest that does.

// A caption's font and how far to move it from where its alignment puts it.
struct FittedText {
    QFont font;
    QPointF shift;
};

// The font at the largest pixel size, from its own down to one pixel, at which the ink of text's glyphs
// fits box; shift moves the ink inside where a side bearing leans a sliver of it out. With wholeCells,
// the ink must lie inside where the alignment puts it (no shift) and the characters' advances too, so
// lit digits keep in step with a row of unlit ones drawn over them.
FittedText fitText(const QFont &font, const QString &text, const QRect &box, Qt::Alignment alignment, bool wholeCells);

// The seven-segment face at the design's size, made smaller where its substitute's digits do not fit
// the box they were drawn for; sample is the widest text the box shows.
QFont sevenSegmentFont(double points, int weight, const QString &sample, QSize box);

// A plain-text label that draws its caption whole: at its own font where the caption fits its contents,
// otherwise at the largest size that does. The size is worked out once for each caption and box.
class FittedLabel : public QLabel {
public:
    using QLabel::QLabel;

    // The font the caption is drawn in.
    QFont drawnFont() const;
    // The caption's font and the shift that keeps its ink inside.
    const FittedText &fitted() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawCaption(QPainter &painter) const;

    // The last few captions drawn in glyphs too large for Qt's glyph cache, the latest first.
    struct Picture {
        QString text;
        QColor ink;
        QFont font;
        QImage image;
    };
    QList<Picture> pictures_;

    // The fit of each caption shown in this box, font and alignment: a readout that steps through a few
    // values works each out once, not on every change.
    mutable QRect fittedBox_;
    mutable QFont fittedFrom_;
    mutable Qt::Alignment fittedAlignment_;
    mutable QHash<QString, FittedText> fitted_;
};

// Lets a transparent caption grow downwards to its font's line height, where the substitute face
// stands taller than the design's box, so the bottom of its letters is not cut off.
void growToFitText(QLabel *label);
