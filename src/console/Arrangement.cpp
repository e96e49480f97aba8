#include "Arrangement.h"

#include "console/ConsoleController.h"
#include "state/AppState.h"
#include "widgets/Geometry.h"
#include "widgets/RowWidth.h"
#include "widgets/WindowGeometry.h"
#include "windows/FrmVoice.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

Arrangement::Arrangement(AppState &state, FrmVoice &frmVoice, WindowOwner<FrmMetar> &frmMetar,
                         WindowOwner<FrmPower> &frmPower, WindowOwner<FrmCtl> &frmCtl, ConsoleController &console,
                         ScreenWidth screenWidth)
    : state_(state), frmVoice_(frmVoice), frmMetar_(frmMetar), frmPower_(frmPower), frmCtl_(frmCtl), console_(console),
      screenWidth_(std::move(screenWidth))
{
}

float Arrangement::primaryScreenWidth()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? float(screen->geometry().width() * kTwipsPerPixel) : 0.0f;
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

void Arrangement::cmdMetar_Click()
{
    if (state_.MeterShown == -1) {
        state_.MeterShown = 0;
        frmMetar_.unload();
        if (state_.PowerShown == -1) {
            centreOn(RowWidth({windowWidth(&frmPower_.get()), windowWidth(&frmVoice_)}));
            placeRightOf(frmPower_.get(), frmVoice_);
        } else {
            centreOn(windowWidth(&frmVoice_));
        }
        console_.dockConsole();
        frmCtl_.get().cmdMetar->setFaceColor(Colors::Grey);
        return;
    }
    // Reading the meter window's width loads it, hidden, and runs its load handler.
    if (state_.PowerShown == -1) {
        const int16_t w =
            RowWidth({windowWidth(&frmMetar_.get()), windowWidth(&frmVoice_), windowWidth(&frmPower_.get())});
        state_.MeterShown = -1;
        centreOn(w);
        placeRightOf(frmMetar_.get(), frmVoice_);
        placeRightOf(frmPower_.get(), frmMetar_.get());
    } else {
        const int16_t w = RowWidth({windowWidth(&frmMetar_.get()), windowWidth(&frmVoice_)});
        state_.MeterShown = -1;
        centreOn(w);
        placeRightOf(frmMetar_.get(), frmVoice_);
    }
    console_.dockConsole();
    frmCtl_.get().cmdMetar->setFaceColor(Colors::Red);
    frmMetar_.get().show();
}

void Arrangement::cmdPower_Click()
{
    if (state_.PowerShown == -1) {
        state_.PowerShown = 0;
        frmPower_.unload();
        if (state_.MeterShown == -1) {
            centreOn(RowWidth({windowWidth(&frmMetar_.get()), windowWidth(&frmVoice_)}));
            placeRightOf(frmMetar_.get(), frmVoice_);
        } else {
            centreOn(windowWidth(&frmVoice_));
        }
        console_.dockConsole();
        frmCtl_.get().cmdPower->setFaceColor(Colors::Grey);
        return;
    }
    // Reading the power window's width loads it, hidden, and runs its load handler.
    if (state_.MeterShown == -1) {
        const int16_t w =
            RowWidth({windowWidth(&frmMetar_.get()), windowWidth(&frmVoice_), windowWidth(&frmPower_.get())});
        state_.PowerShown = -1;
        centreOn(w);
        placeRightOf(frmMetar_.get(), frmVoice_);
        placeRightOf(frmPower_.get(), frmMetar_.get());
    } else {
        const int16_t w = RowWidth({windowWidth(&frmPower_.get()), windowWidth(&frmVoice_)});
        state_.PowerShown = -1;
        centreOn(w);
        placeRightOf(frmPower_.get(), frmVoice_);
    }
    console_.dockConsole();
    frmCtl_.get().cmdPower->setFaceColor(Colors::Red);
    frmPower_.get().show();
}
