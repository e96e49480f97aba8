#include "WindowGeometry.h"

#include "Geometry.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char *kLeft = "vbLeftTwips";
constexpr const char *kTop = "vbTopTwips";

bool hasTitleBar(const QWidget *w)
{
    return !(w->windowFlags() & Qt::FramelessWindowHint);
}

void moveToTwips(QWidget *w)
{
    w->move(twipsToPixels(windowLeft(w)), twipsToPixels(windowTop(w)));
}
} // namespace

float windowLeft(const QWidget *w)
{
    const QVariant v = w->property(kLeft);
    return v.isValid() ? v.toFloat() : float(w->frameGeometry().x() * kTwipsPerPixel);
}

float windowTop(const QWidget *w)
{
    const QVariant v = w->property(kTop);
    return v.isValid() ? v.toFloat() : float(w->frameGeometry().y() * kTwipsPerPixel);
}

void setWindowLeft(QWidget *w, float twips)
{
    w->setProperty(kLeft, twips);
    moveToTwips(w);
}

void setWindowTop(QWidget *w, float twips)
{
    w->setProperty(kTop, twips);
    moveToTwips(w);
}

float windowWidth(const QWidget *w)
{
    const int frame = w->frameGeometry().width();
    if (frame > w->width() || !hasTitleBar(w))
        return float(frame * kTwipsPerPixel);
    return float(w->width() * kTwipsPerPixel + 90);
}

float windowHeight(const QWidget *w)
{
    const int frame = w->frameGeometry().height();
    if (frame > w->height() || !hasTitleBar(w))
        return float(frame * kTwipsPerPixel);
    return float(w->height() * kTwipsPerPixel + 375);
}
