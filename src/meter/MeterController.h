#pragma once

#include "widgets/LedBar.h"

#include <QObject>
#include <QString>
#include <array>

class FrmMetar;
class RandomSource;

// The readout caption for n lit arc lamps: hundreds of RPM, at least three digits.
QString rpmCaption(int n);

// Animates one load of the meter window. It lives as long as that load.
class MeterController : public QObject {
    Q_OBJECT
public:
    MeterController(FrmMetar &window, RandomSource &random);

    const LedBar &arc() const { return arc_; }
    const std::array<LedBar, 6> &gauges() const { return gauges_; }

public slots:
    void Form_Load();
    void Timer1_Timer(); // the six gauge bars
    void Timer2_Timer(); // the arc and its readout

private:
    FrmMetar &w_;
    RandomSource &random_;
    LedBar arc_{};
    std::array<LedBar, 6> gauges_{};
};
