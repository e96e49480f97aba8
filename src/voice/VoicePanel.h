#pragma once

class FrmVoice;

// Turns all sixty voice lamps to the unlit shade.
void ClearVoiceBars(FrmVoice &w);
// The dark look the start-up light sequence begins from: buttons hidden, drive mode lamps disabled,
// panels grey. The voice lamps keep their colours.
void PrepareStartupPanel(FrmVoice &w);
