#include "WindowGeometry.h"

#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSizeF>
#include <QVariant>
#include <QWidget>

namespace {
// The twips last set, and the pixel the window was moved to for them. While the window is still at
// that pixel the exact twips are read back; once it is elsewhere (the user dragged it, a window
// manager placed it) its real position is.
constexpr const char *kLeft = "vbLeftTwips";
constexpr const char *kTop = "vbTopTwips";
constexpr const char *kLeftPixel = "vbLeftPixel";
constexpr const char *kTopPixel = "vbTopPixel";

bool hasTitleBar(const QWidget *w)
{
    return !(w->windowFlags() & Qt::FramelessWindowHint);
}

float readTwips(const QWidget *w, const char *twips, const char *pixel, int now)
{
    const QVariant set = w->property(twips);
    if (set.isValid() && w->property(pixel).toInt() == now)
        return set.toFloat();
    return float(now * kTwipsPerPixel);
}

void setTwips(QWidget *w, const char *twips, const char *pixel, float value)
{
    w->setProperty(twips, value);
    w->setProperty(pixel, twipsToPixels(value));
}

void moveToSetPixels(QWidget *w)
{
    w->move(w->property(kLeftPixel).toInt(), w->property(kTopPixel).toInt());
}
} // namespace

// pos() of a top-level window is its frame's place on the screen, as the window system has it.
float windowLeft(const QWidget *w)
{
    return readTwips(w, kLeft, kLeftPixel, w->pos().x());
}

float windowTop(const QWidget *w)
{
    return readTwips(w, kTop, kTopPixel, w->pos().y());
}

void setWindowLeft(QWidget *w, float twips)
{
    const float top = windowTop(w);
    setTwips(w, kLeft, kLeftPixel, twips);
    setTwips(w, kTop, kTopPixel, top);
    moveToSetPixels(w);
}

void setWindowTop(QWidget *w, float twips)
{
    const float left = windowLeft(w);
    setTwips(w, kTop, kTopPixel, twips);
    setTwips(w, kLeft, kLeftPixel, left);
    moveToSetPixels(w);
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

QSizeF primaryScreenTwips()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize px = screen ? screen->geometry().size() : QSize();
    return QSizeF(px.width() * kTwipsPerPixel, px.height() * kTwipsPerPixel);
}
