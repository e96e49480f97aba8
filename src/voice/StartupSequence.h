#pragma once

#include <QObject>
#include <cstdint>

class FrmVoice;
struct AppState;

// Applies one frame of the power-up show; values other than 1 to 5 change nothing.
void ShowStartupStep(FrmVoice &w, const int16_t &step);

// Drives the power-up show from Timer2: buttons appear row by row while the lamps light, then the
// window settles on NORMAL and takes input again with the focus on "START".
class StartupSequence : public QObject {
    Q_OBJECT
public:
    StartupSequence(FrmVoice &w, AppState &state, QObject *parent = nullptr);

public slots:
    void Timer2_Timer();

private:
    FrmVoice &w_;
    AppState &state_;
};
