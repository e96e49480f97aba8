#include "Lamp.h"

#include "Colors.h"

#include <QMouseEvent>
#include <QPainter>

Lamp::Lamp(QWidget *parent, const QString &name, uint32_t bgr) : QWidget(parent), color_(bgr)
{
    setObjectName(name);
    setAccessibleName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Lamp::setColor(uint32_t bgr)
{
    if (bgr == color_)
        return;
    color_ = bgr;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), bgrColor(color_));
}

void Lamp::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
