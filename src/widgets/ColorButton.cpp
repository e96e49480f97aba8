#include "ColorButton.h"

#include "Colors.h"

#include <QPainter>
#include <qdrawutil.h>

ColorButton::ColorButton(QWidget *parent, const QString &name, const QString &caption, uint32_t faceBgr)
    : QPushButton(parent), face_(faceBgr)
{
    setObjectName(name);
    setCaption(caption);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ColorButton::setFaceColor(uint32_t bgr)
{
    if (bgr == face_)
        return;
    face_ = bgr;
    update();
}

void ColorButton::setCaption(const QString &caption)
{
    caption_ = caption;
    // QPushButton's text is what accessibility reads; a screen reader gets the lines joined by a blank.
    QString plain = caption;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(plain);
    setAccessibleName(QString(plain).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

void ColorButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QColor face = bgrColor(face_);
    QPalette pal = palette();
    pal.setColor(QPalette::Button, face);
    pal.setColor(QPalette::Light, face.lighter(160));
    pal.setColor(QPalette::Midlight, face.lighter(125));
    pal.setColor(QPalette::Mid, face.darker(140));
    pal.setColor(QPalette::Dark, face.darker(200));
    pal.setColor(QPalette::Shadow, Qt::black);
    const QBrush fill(face);
    const bool sunken = isDown();
    qDrawWinButton(&p, rect(), pal, sunken, &fill);

    QRect textRect = rect().adjusted(3, 3, -3, -3);
    if (sunken)
        textRect.translate(1, 1);
    p.setPen(Qt::black);
    p.setFont(font());
    p.drawText(textRect, Qt::AlignCenter | Qt::TextWordWrap, text());
    if (hasFocus()) {
        QPen pen(Qt::black, 1, Qt::DotLine);
        p.setPen(pen);
        p.drawRect(rect().adjusted(4, 4, -5, -5));
    }
}
