#include "Arrangement.h"

#include "console/ConsoleController.h"
#include "state/AppState.h"
#include "widgets/Colors.h"
#include "widgets/RowWidth.h"
#include "widgets/WindowGeometry.h"
#include "windows/FrmVoice.h"

#include <functional>
#include <vector>

Arrangement::Arrangement(AppState &state, FrmVoice &frmVoice, WindowOwner<FrmMetar> &frmMetar,
                         WindowOwner<FrmPower> &frmPower, WindowOwner<FrmCtl> &frmCtl, ConsoleController &console,
                         ScreenWidth screenWidth)
    : state_(state), frmVoice_(frmVoice), frmMetar_(frmMetar), frmPower_(frmPower), frmCtl_(frmCtl), console_(console),
      screenWidth_(std::move(screenWidth))
{
}

float Arrangement::primaryScreenWidth()
{
    return float(primaryScreenTwips().width());
}

void Arrangement::centreOn(float width)
{
    setWindowLeft(&frmVoice_, (screenWidth_() - width) / 2);
}

void Arrangement::placeRightOf(QWidget &b, const QWidget &a)
{
    setWindowLeft(&b, windowWidth(&a) + windowLeft(&a));
    setWindowTop(&b, windowTop(&a));
}

namespace {
// One instrument window of the row, which stands left to right: main window, meter, power.
struct Side {
    int16_t &shown;                    // -1 switched on, 0 off
    std::function<QWidget &()> window; // loads it, hidden, on first use
    std::function<void()> unload;
    ColorButton *button;
};
} // namespace

void Arrangement::cmdMetar_Click()
{
    toggle(Instrument::Meter);
}

void Arrangement::cmdPower_Click()
{
    toggle(Instrument::Power);
}

void Arrangement::toggle(Instrument which)
{
    FrmCtl &ctl = frmCtl_.get();
    Side row[] = {
        {state_.MeterShown, [this]() -> QWidget & { return frmMetar_.get(); }, [this] { frmMetar_.unload(); },
         ctl.cmdMetar},
        {state_.PowerShown, [this]() -> QWidget & { return frmPower_.get(); }, [this] { frmPower_.unload(); },
         ctl.cmdPower},
    };
    Side &side = row[which == Instrument::Meter ? 0 : 1];
    const bool switchingOn = side.shown != -1;
    if (!switchingOn) {
        side.shown = 0;
        side.unload();
    }

    // The side windows that stay or come on, in row order. Reading a width loads a window.
    std::vector<Side *> on;
    for (Side &s : row)
        if (s.shown == -1 || (&s == &side && switchingOn))
            on.push_back(&s);
    if (on.empty()) {
        centreOn(windowWidth(&frmVoice_));
    } else {
        // The widths add up in this order: the first side window, the main window, the second.
        const float first = windowWidth(&on[0]->window()), voice = windowWidth(&frmVoice_);
        centreOn(on.size() == 1 ? RowWidth({first, voice}) : RowWidth({first, voice, windowWidth(&on[1]->window())}));
    }
    side.shown = switchingOn ? -1 : 0;
    const QWidget *left = &frmVoice_;
    for (Side *s : on) {
        placeRightOf(s->window(), *left);
        left = &s->window();
    }

    console_.dockConsole();
    side.button->setFaceColor(switchingOn ? Colors::Red : Colors::Grey);
    if (switchingOn)
        side.window().show();
}
