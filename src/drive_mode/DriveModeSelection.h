#pragma once

#include "widgets/WindowOwner.h"

#include <cstdint>

class FrmPower;
class FrmVoice;

// A click on drive mode lamp `index` of the main window: shows that mode there and on the power
// window, loading the power window hidden if it is not loaded.
void lblSide_Click(FrmVoice &frmVoice, WindowOwner<FrmPower> &frmPower, int16_t index);
