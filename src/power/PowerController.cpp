#include "PowerController.h"

#include "drive_mode/DriveMode.h"
#include "widgets/Colors.h"
#include "windows/FrmPower.h"

namespace {

constexpr int16_t kLevels = 6;
constexpr int16_t kBases[3] = {3, 8, 13};

// A lit bar reads red, yellow, green, green, green from the left.
uint32_t riseColor(int16_t step)
{
    return step == 0 ? Colors::Red : step == 1 ? Colors::Yellow : Colors::Green;
}

} // namespace

PowerController::PowerController(FrmPower &window, FrmVoice &frmVoice, RandomSource &random)
    : QObject(&window), w_(window), frmVoice_(frmVoice), random_(random)
{
}

void PowerController::Form_Load()
{
    w_.lblLED[FrmPower::kModeLamps + DriveNormal]->setColor(Colors::Yellow);
    w_.cmdNormal->setFaceColor(Colors::Green);
    random_.seedFromClock();
    for (auto &bar : bars_)
        bar = startLedBar(random_, kLevels);
    w_.Timer1->setSharedPhase(true); // in step with the meter's lamps: one wake-up for both windows
    w_.Timer1->setInterval(70);
}

void PowerController::selectMode(int16_t mode)
{
    showPowerMode(w_, mode);
    ShowDriveMode(frmVoice_, mode);
}

void PowerController::cmdNormal_Click()
{
    selectMode(DriveNormal);
}

void PowerController::cmdAuto_Click()
{
    selectMode(DriveAuto);
}

void PowerController::cmdPursuit_Click()
{
    selectMode(DrivePursuit);
}

void PowerController::cmdPower_Click()
{
    // Ends at once, as CLOSE does: no stop first, no close handler.
    emit endRequested(0);
}

void PowerController::Timer1_Timer()
{
    const std::span<Lamp *const> lamps(w_.lblLED);
    for (size_t n = 0; n < bars_.size(); ++n) {
        const LedBarConfig config{kBases[n], kLevels, riseColor, {}};
        StepLedBar(bars_[n], lamps, config, random_);
    }
}
