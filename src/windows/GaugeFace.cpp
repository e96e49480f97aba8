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
    QPainter p(this);
    renderer_.render(&p, QRectF(rect()));
}
