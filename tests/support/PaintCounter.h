#pragma once

#include <QEvent>
#include <QObject>

// Counts the paint events of the widgets it is installed on.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
