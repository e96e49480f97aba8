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

signals:
    void Timer();

private:
    void apply();

    QTimer timer_;
    int interval_;
    bool enabled_;
};
