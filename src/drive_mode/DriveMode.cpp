#include "DriveMode.h"

#include "app/FrmVoice.h"
#include "widgets/Geometry.h"

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
