#include "DriveModeSelection.h"

#include "DriveMode.h"
#include "windows/FrmPower.h"

void lblSide_Click(FrmVoice &frmVoice, WindowOwner<FrmPower> &frmPower, int16_t index)
{
    ShowDriveMode(frmVoice, index);
    if (index < 0 || index > 2)
        return;
    showPowerMode(frmPower.get(), index);
}
