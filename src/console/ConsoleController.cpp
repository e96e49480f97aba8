#include "ConsoleController.h"

#include "console/Level.h"
#include "state/AppState.h"
#include "widgets/WindowGeometry.h"
#include "windows/FrmVoice.h"

ConsoleController::ConsoleController(AppState &state, FrmVoice &frmVoice, WindowOwner<FrmCtl> &frmCtl)
    : state_(state), frmVoice_(frmVoice), frmCtl_(frmCtl)
{
}

void ConsoleController::dockConsole()
{
    FrmCtl &ctl = frmCtl_.get();
    setWindowLeft(&ctl, windowLeft(&frmVoice_));
    setWindowTop(&ctl, windowHeight(&frmVoice_) + windowTop(&frmVoice_));
}

QString ConsoleController::levelCaption()
{
    return frmCtl_.get().lblLebel->text();
}

int16_t ConsoleController::level()
{
    return readLevel(levelCaption()).value_or(0);
}

void ConsoleController::cmdCtl_Click()
{
    dockConsole();
    FrmCtl &ctl = frmCtl_.get();
    if (state_.ConsoleOn == -1) {
        state_.ConsoleOn = 0;
        ctl.hide();
        frmVoice_.cmdCtl->setCaption(QStringLiteral("CONF\r\nON"));
    } else {
        state_.ConsoleOn = -1;
        ctl.show();
        frmVoice_.cmdCtl->setCaption(QStringLiteral("CONF\r\nOFF"));
    }
}

void ConsoleController::cmdUP_Click()
{
    QLabel *label = frmCtl_.get().lblLebel;
    label->setText(levelUp(label->text()));
}

void ConsoleController::cmdDown_Click()
{
    QLabel *label = frmCtl_.get().lblLebel;
    label->setText(levelDown(label->text()));
}
