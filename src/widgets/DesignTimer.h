#pragma once

#include <QObject>
#include <QTimer>

// A window timer with the design's rules: it ticks only while enabled with a non-zero interval;
// interval 0 means no ticks, and enabling it at interval 0 starts nothing.
class DesignTimer : public QObject {
    Q_OBJECT
public:
    DesignTimer(QObject *parent, const QString &name, int intervalMs, bool enabled);

    int interval() const { return interval_; }
    bool isEnabled() const { return enabled_; }
    void setInterval(int ms);
    void setEnabled(bool on);
    bool isTicking() const { return timer_.isActive(); }
    // Ticks at whole multiples of the interval on a clock that every timer so set shares, rather than an
    // interval after each start: timers of one interval in different windows then wake the program
    // together, not each at its own moment. The first tick comes at most an interval after a start.
    void setSharedPhase(bool on);

signals:
    void Timer();

private:
    void apply();
    void tick();

    QTimer timer_;
    int interval_;
    bool enabled_;
    bool sharedPhase_ = false;
    bool toFirstTick_ = false; // waiting for the first shared moment, after which the interval repeats
};
