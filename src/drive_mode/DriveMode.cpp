#include "DriveMode.h"

#include "widgets/Colors.h"
#include "windows/FrmPower.h"
#include "windows/FrmVoice.h"

uint32_t driveModeColor(int16_t mode)
{
    switch (mode) {
    case DriveNormal: return Colors::Green;
    case DriveAuto: return Colors::Yellow;
    default: return Colors::Red;
    }
}

void ShowDriveMode(FrmVoice &w, const int16_t &mode)
{
    if (mode < 0 || mode > 2)
        return;
    for (int i = 0; i < 3; ++i)
        w.lblDsp[size_t(i)]->setColor(i == mode ? driveModeColor(mode) : Colors::Grey);
    for (int i = 0; i < 3; ++i)
        w.lblSide[size_t(i)]->setColor(i == mode ? Colors::Yellow : Colors::Grey);
}

void showPowerMode(FrmPower &w, int16_t mode)
{
    if (mode < 0 || mode > 2)
        return;
    ColorButton *const buttons[] = {w.cmdNormal, w.cmdAuto, w.cmdPursuit};
    for (int m = 0; m < 3; ++m) {
        w.lblLED[size_t(FrmPower::kModeLamps + m)]->setColor(m == mode ? Colors::Yellow : Colors::Grey);
        buttons[m]->setFaceColor(m == mode ? driveModeColor(int16_t(m)) : Colors::Grey);
    }
}
