#include "Lamp.h"

#include "Colors.h"
#include "ServerFill.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
bool serverDrawing = true;
}

Lamp::Lamp(QWidget *parent, const QString &name, uint32_t bgr) : QWidget(parent), color_(bgr)
{
    setObjectName(name);
    setAccessibleName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

Lamp::~Lamp() = default;

void Lamp::setServerDrawing(bool allowed)
{
    serverDrawing = allowed;
}

void Lamp::setColor(uint32_t bgr)
{
    if (bgr == color_)
        return;
    color_ = bgr;
    if (server_)
        server_->setColor(bgr);
    else
        update();
}

bool Lamp::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        showOnServer();
        break;
    case QEvent::Hide:
        if (server_)
            server_->setVisible(false);
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (server_)
            server_->setGeometry(rectInWindow(), devicePixelRatio());
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void Lamp::showOnServer()
{
    // A new X window for the top-level took ours with the old one.
    if (server_ && server_->parent() != window()->internalWinId())
        server_.reset();
    if (!server_ && serverDrawing && !coveredBySibling())
        server_ = ServerFill::create(*window(), color_);
    if (server_) {
        server_->setColor(color_);
        server_->setGeometry(rectInWindow(), devicePixelRatio());
        server_->setVisible(true);
    }
}

// A widget above the lamp would be hidden by the server's window, which lies over everything Qt paints.
bool Lamp::coveredBySibling() const
{
    const QWidget *parent = parentWidget();
    if (!parent || !parent->isWindow())
        return true;
    bool above = false;
    for (const QObject *child : parent->children()) {
        if (child == this) {
            above = true;
            continue;
        }
        const auto *sibling = above && child->isWidgetType() ? static_cast<const QWidget *>(child) : nullptr;
        if (sibling && !sibling->isWindow() && !sibling->isHidden() && sibling->geometry().intersects(geometry()))
            return true;
    }
    return false;
}

QRect Lamp::rectInWindow() const
{
    return QRect(mapTo(window(), QPoint(0, 0)), size());
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
