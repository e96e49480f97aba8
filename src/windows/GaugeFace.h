#pragma once

#include <QImage>
#include <QSvgRenderer>
#include <QWidget>

// The instrument face drawn over the tachometer arc: black where it covers, open along the band
// where the arc lamps show. Drawn at its natural size; transparent outside its artwork.
class GaugeFace : public QWidget {
    Q_OBJECT
public:
    explicit GaugeFace(QWidget *parent);

    // The artwork's natural size in twips.
    static constexpr int kWidthTwips = 9990;
    static constexpr int kHeightTwips = 6105;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSvgRenderer renderer_;
    // The artwork drawn once at the widget's size: the arc lamps behind it change many times a second, and
    // each change repaints the face over them.
    QImage drawn_;
};
