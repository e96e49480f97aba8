#pragma once

#include <cstdint>

class FrmPower;
class FrmVoice;

enum DriveMode : int16_t { DriveNormal = 0, DriveAuto = 1, DrivePursuit = 2 };

// Paints the drive mode on the main window's three lamps and panels; other values change nothing.
void ShowDriveMode(FrmVoice &w, const int16_t &mode);

// The colour a mode's panel and power-window button take: green, yellow, red.
uint32_t driveModeColor(int16_t mode);

// Paints a drive mode (0 NORMAL, 1 AUTO, 2 PURSUIT) on the three mode lamps and mode buttons.
void showPowerMode(FrmPower &w, int16_t mode);
