#include "DesignTimer.h"

DesignTimer::DesignTimer(QObject *parent, const QString &name, int intervalMs, bool enabled)
    : QObject(parent), interval_(intervalMs), enabled_(enabled)
{
    setObjectName(name);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &DesignTimer::Timer);
    apply();
}

void DesignTimer::setInterval(int ms)
{
    interval_ = ms < 0 ? 0 : ms;
    apply();
}

void DesignTimer::setEnabled(bool on)
{
    enabled_ = on;
    apply();
}

void DesignTimer::apply()
{
    if (enabled_ && interval_ > 0)
        timer_.start(interval_); // restarting counts the interval afresh, as a new setting does
    else
        timer_.stop();
}
