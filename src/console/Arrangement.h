#pragma once

#include "widgets/WindowOwner.h"
#include "windows/FrmCtl.h"
#include "windows/FrmMetar.h"
#include "windows/FrmPower.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <initializer_list>

struct AppState;
class FrmVoice;
class ConsoleController;

// Switches the meter and power windows on and off from the console and closes up the row of
// windows, centred on the screen, with the console docked under the main window.
class Arrangement : public QObject {
    Q_OBJECT
public:
    using ScreenWidth = std::function<float()>; // twips

    Arrangement(AppState &state, FrmVoice &frmVoice, WindowOwner<FrmMetar> &frmMetar, WindowOwner<FrmPower> &frmPower,
                WindowOwner<FrmCtl> &frmCtl, ConsoleController &console, ScreenWidth screenWidth);

    // The primary screen's width in twips.
    static float primaryScreenWidth();

public slots:
    void cmdMetar_Click();
    void cmdPower_Click();

private:
    enum class Instrument { Meter, Power };
    // Switches one instrument window on or off and closes up the row of the windows switched on.
    void toggle(Instrument which);
    void centreOn(float rowWidth);
    static void placeRightOf(QWidget &b, const QWidget &a);

    AppState &state_;
    FrmVoice &frmVoice_;
    WindowOwner<FrmMetar> &frmMetar_;
    WindowOwner<FrmPower> &frmPower_;
    WindowOwner<FrmCtl> &frmCtl_;
    ConsoleController &console_;
    ScreenWidth screenWidth_;
};
