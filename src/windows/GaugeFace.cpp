#include "GaugeFace.h"

#include <QPainter>

GaugeFace::GaugeFace(QWidget *parent) : QWidget(parent), renderer_(QStringLiteral(":/assets/gauge_face.svg"))
{
    setObjectName(QStringLiteral("Image1"));
    setAccessibleName(QStringLiteral("Image1"));
    // Clicks fall through to the window, as on a picture.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GaugeFace::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (drawn_.size() != pixels || drawn_.devicePixelRatio() != ratio) {
        drawn_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        drawn_.setDevicePixelRatio(ratio);
        drawn_.fill(Qt::transparent);
        QPainter artwork(&drawn_);
        renderer_.render(&artwork, QRectF(rect()));
    }
    QPainter p(this);
    p.drawImage(0, 0, drawn_);
}
