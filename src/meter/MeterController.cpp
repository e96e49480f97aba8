#include "MeterController.h"

#include "widgets/Colors.h"
#include "windows/FrmMetar.h"

namespace {

constexpr int16_t kArcLevels = 36;
constexpr int16_t kGaugeLevels = 8;
constexpr int16_t kGaugeStride = 7; // gauge n (from 0) lights lblLED from 7 * (n + 1) down

uint32_t arcColor(int16_t step)
{
    return step <= 11 ? Colors::Green : step <= 22 ? Colors::Yellow : Colors::Red;
}

} // namespace

QString rpmCaption(int n)
{
    // 2.58 hundred RPM a lamp, worked in whole hundredths: 25 lamps make exactly 64.5, which the
    // readout has always shown as 065, while the binary product would round to even (064).
    const int hundredths = n * 258;
    return QStringLiteral("%1").arg((hundredths + 50) / 100, 3, 10, QLatin1Char('0'));
}

MeterController::MeterController(FrmMetar &window, RandomSource &random) : QObject(&window), w_(window), random_(random)
{
}

void MeterController::Form_Load()
{
    // In step with the power window's lamps, and with each other where the intervals meet: fewer wake-ups.
    w_.Timer1->setSharedPhase(true);
    w_.Timer2->setSharedPhase(true);
    w_.Timer1->setInterval(70);
    w_.Timer2->setInterval(120);
    random_.seedFromClock();
    for (Lamp *lamp : w_.lblMetar)
        lamp->setColor(Colors::Grey);
    arc_ = startLedBar(random_, kArcLevels);
    for (auto &bar : gauges_)
        bar = startLedBar(random_, kGaugeLevels);
}

void MeterController::Timer1_Timer()
{
    const std::span<Lamp *const> lamps(w_.lblLED);
    for (size_t n = 0; n < gauges_.size(); ++n) {
        const uint32_t color = n % 2 == 0 ? Colors::Red : Colors::Green;
        const LedBarConfig config{
            int16_t(kGaugeStride * (n + 1)), kGaugeLevels, [color](int16_t) { return color; }, {}};
        StepLedBar(gauges_[n], lamps, config, random_);
    }
}

void MeterController::Timer2_Timer()
{
    const LedBarConfig config{0, kArcLevels, arcColor, [this](int16_t lit) { w_.lblRPM->setText(rpmCaption(lit)); }};
    StepLedBar(arc_, std::span<Lamp *const>(w_.lblMetar), config, random_);
}
