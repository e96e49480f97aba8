#include "StartupSequence.h"

#include "drive_mode/DriveMode.h"
#include "state/AppState.h"
#include "windows/FrmVoice.h"

namespace {
constexpr int16_t kLastStep = 10;
constexpr int kFastInterval = 50;
} // namespace

void ShowStartupStep(FrmVoice &w, const int16_t &step)
{
    switch (step) {
    case 1:
        w.cmdStart->show();
        w.cmdFile->show();
        for (size_t i = 0; i < 10; ++i)
            for (int a = 1; a <= 6; ++a)
                w.voiceArray(a)[i]->setColor(VoiceShade::Bright);
        break;
    case 2:
        w.cmdPause->show();
        w.cmdStop->show();
        break;
    case 3:
        w.cmdPrev->show();
        w.cmdNext->show();
        w.lblSide[0]->setEnabled(true);
        ShowDriveMode(w, DriveNormal);
        break;
    case 4:
        w.cmdRepeat->show();
        w.cmdMode->show();
        w.lblSide[1]->setEnabled(true);
        ShowDriveMode(w, DriveAuto);
        break;
    case 5:
        w.cmdCtl->show();
        w.cmdClose->show();
        w.lblSide[2]->setEnabled(true);
        ShowDriveMode(w, DrivePursuit);
        w.Timer2->setInterval(kFastInterval);
        break;
    default:
        break;
    }
}

StartupSequence::StartupSequence(FrmVoice &w, AppState &state, QObject *parent) : QObject(parent), w_(w), state_(state)
{
}

void StartupSequence::Timer2_Timer()
{
    w_.setInputEnabled(false);
    ShowStartupStep(w_, state_.StartupStep);
    ++state_.StartupStep;
    if (state_.StartupStep != kLastStep + 1)
        return;

    ClearVoiceBars(w_);
    ShowDriveMode(w_, DriveNormal);
    state_.StartupStep = 1;
    w_.Timer2->setInterval(0);
    w_.Timer2->setEnabled(false);
    w_.setInputEnabled(true);
    w_.cmdStart->setFocus();
}
