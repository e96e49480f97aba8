#include "VoicePanel.h"

#include "app/FrmVoice.h"
#include "widgets/Geometry.h"

void ClearVoiceBars(FrmVoice &w)
{
    for (int i = 0; i < 10; ++i)
        for (int a = 1; a <= 6; ++a)
            w.voiceArray(a)[size_t(i)]->setColor(VoiceShade::Unlit);
}

void PrepareStartupPanel(FrmVoice &w)
{
    for (ColorButton *b : w.buttons())
        b->hide();
    for (size_t i = 0; i < 3; ++i) {
        w.lblSide[i]->setEnabled(false);
        w.lblDsp[i]->setColor(Colors::Grey);
    }
}
