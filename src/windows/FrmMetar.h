#pragma once

#include "GaugeFace.h"
#include "widgets/DesignTimer.h"
#include "widgets/Lamp.h"

#include <QLabel>
#include <QWidget>
#include <array>

// The engine panel: tachometer arc behind its gauge face, the RPM readout and six gauge bars.
// It is a view; MeterController animates it.
class FrmMetar : public QWidget {
    Q_OBJECT
public:
    FrmMetar();

    static constexpr int kArcLamps = 35;
    static constexpr int kGaugeLamps = 49;
    std::array<Lamp *, kArcLamps> lblMetar{}; // the tachometer arc, lower left to lower right
    std::array<Lamp *, kGaugeLamps> lblLED{};

    GaugeFace *Image1;
    QLabel *lblRPM; // the live readout
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10, *Label11,
        *Label12, *Label13, *Label14, *Label15, *Label16, *Label17, *Label18, *Label19;

    DesignTimer *Timer1, *Timer2;

    // The arc lamp's place in twips: Left, Top, Width, Height.
    static QRect arcLampTwips(int i);
};
