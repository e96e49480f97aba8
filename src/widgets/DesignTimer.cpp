#include "DesignTimer.h"

#include "ServerFill.h"

#include <QElapsedTimer>

namespace {
// Milliseconds on the clock that timers with a shared phase count from.
qint64 sharedClockMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}
} // namespace

DesignTimer::DesignTimer(QObject *parent, const QString &name, int intervalMs, bool enabled)
    : QObject(parent), interval_(intervalMs), enabled_(enabled)
{
    setObjectName(name);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &DesignTimer::tick);
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

void DesignTimer::setSharedPhase(bool on)
{
    sharedPhase_ = on;
    apply();
}

void DesignTimer::apply()
{
    toFirstTick_ = false;
    if (!enabled_ || interval_ <= 0) {
        timer_.stop();
    } else if (sharedPhase_) {
        toFirstTick_ = true;
        timer_.start(int(interval_ - sharedClockMs() % interval_));
    } else {
        timer_.start(interval_); // restarting counts the interval afresh, as a new setting does
    }
}

void DesignTimer::tick()
{
    if (toFirstTick_) {
        toFirstTick_ = false;
        timer_.start(interval_);
    }
    const ServerFill::Batch batch; // the lamps this tick changes reach the screen as it ends
    emit Timer();
}
