#pragma once

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <cstdlib>

// What the window system shows of a top-level window, once it is on screen.
inline QImage grabOnScreen(QWidget &w)
{
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return {};
    QTest::qWait(100); // let the last repaint reach the screen
    return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// Keeps a screenshot for a person to look at when VB_SCREENSHOT_DIR names a folder.
inline void keepScreenshot(const QImage &image, const QString &name)
{
    const QString dir = qEnvironmentVariable("VB_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        image.save(QDir(dir).filePath(name));
}

inline int countPixels(const QImage &image, const QRect &rect, QColor color, int tolerance = 0)
{
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - color.red()) <= tolerance && std::abs(c.green() - color.green()) <= tolerance &&
                std::abs(c.blue() - color.blue()) <= tolerance)
                ++n;
        }
    return n;
}
