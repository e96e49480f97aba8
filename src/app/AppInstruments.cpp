// App's wiring of the two instrument windows and of the main window's drive mode lamps.
#include "App.h"
#include "drive_mode/DriveModeSelection.h"
#include "meter/MeterController.h"
#include "power/PowerController.h"

std::unique_ptr<FrmMetar> App::makeFrmMetar()
{
    auto w = std::make_unique<FrmMetar>();
    w->setWindowIcon(frmVoice_->windowIcon());
    return w;
}

std::unique_ptr<FrmPower> App::makeFrmPower()
{
    auto w = std::make_unique<FrmPower>();
    w->setWindowIcon(frmVoice_->windowIcon());
    return w;
}

// Each load gets its own controller, a child of the window, so unloading ends its animation too.
void App::loadFrmMetar(FrmMetar &w)
{
    auto *c = new MeterController(w, *random_);
    connect(w.Timer1, &DesignTimer::Timer, c, &MeterController::Timer1_Timer);
    connect(w.Timer2, &DesignTimer::Timer, c, &MeterController::Timer2_Timer);
    c->Form_Load();
}

void App::loadFrmPower(FrmPower &w)
{
    auto *c = new PowerController(w, *frmVoice_, *random_);
    connect(w.cmdNormal, &QPushButton::clicked, c, &PowerController::cmdNormal_Click);
    connect(w.cmdAuto, &QPushButton::clicked, c, &PowerController::cmdAuto_Click);
    connect(w.cmdPursuit, &QPushButton::clicked, c, &PowerController::cmdPursuit_Click);
    connect(w.cmdPower, &QPushButton::clicked, c, &PowerController::cmdPower_Click);
    connect(c, &PowerController::endRequested, this, &App::endAtOnce);
    connect(w.Timer1, &DesignTimer::Timer, c, &PowerController::Timer1_Timer);
    c->Form_Load();
}

void App::wireDriveModeLamps()
{
    connect(frmVoice_.get(), &FrmVoice::lblSide_Click, this,
            [this](int index) { lblSide_Click(*frmVoice_, frmPower_, int16_t(index)); });
}
