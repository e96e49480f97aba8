#include "Lamp.h"

#include "Colors.h"
#include "ServerFill.h"

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {
bool serverDrawing = true;

// Whether a caption lying over part of a lamp draws anything there: a transparent label's box often
// reaches over a lamp where its letters do not. Worked out from the caption as it is drawn now.
bool captionInkOver(const QLabel &caption, const QRect &lampInParent)
{
    const QRect overlap = caption.geometry().intersected(lampInParent).translated(-caption.pos());
    const qreal ratio = caption.devicePixelRatioF();
    QImage drawn((QSizeF(caption.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    drawn.setDevicePixelRatio(ratio);
    drawn.fill(Qt::transparent);
    const_cast<QLabel &>(caption).render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren); // paints, changes nothing
    // The lamp's edge pixels in the screen's pixels, widened by one for antialiased ink that spills.
    const QRect pixels =
        QRect(QPoint(int(std::floor(overlap.left() * ratio)), int(std::floor(overlap.top() * ratio))),
              QPoint(int(std::ceil((overlap.right() + 1) * ratio)), int(std::ceil((overlap.bottom() + 1) * ratio))))
            .adjusted(-1, -1, 0, 0)
            .intersected(drawn.rect());
    for (int y = pixels.top(); y <= pixels.bottom(); ++y)
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            if (qAlpha(drawn.pixel(x, y)) != 0)
                return true;
    return false;
}
} // namespace

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

// A widget above the lamp would be hidden by the server's window, which lies over everything Qt paints;
// a caption whose letters miss the lamp hides nothing. Looked at each time the lamp is shown: the captions
// that reach over lamps are fixed texts.
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
        if (!sibling || sibling->isWindow() || sibling->isHidden() || !sibling->geometry().intersects(geometry()))
            continue;
        const auto *caption = qobject_cast<const QLabel *>(sibling);
        if (!caption || captionInkOver(*caption, geometry()))
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
