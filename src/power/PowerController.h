#pragma once

#include "widgets/LedBar.h"

#include <QObject>
#include <array>

class FrmPower;
class FrmVoice;
class RandomSource;

// Animates one load of the power window and answers its buttons. It lives as long as that load.
class PowerController : public QObject {
    Q_OBJECT
public:
    PowerController(FrmPower &window, FrmVoice &frmVoice, RandomSource &random);

    const std::array<LedBar, 3> &bars() const { return bars_; }

public slots:
    void Form_Load();
    void cmdNormal_Click();
    void cmdAuto_Click();
    void cmdPursuit_Click();
    void cmdPower_Click();
    void Timer1_Timer();

signals:
    // POWER: the engine is to be released and the program ended at once with this status.
    void endRequested(int status);

private:
    void selectMode(int16_t mode);

    FrmPower &w_;
    FrmVoice &frmVoice_;
    RandomSource &random_;
    std::array<LedBar, 3> bars_{};
};
