#pragma once

#include "widgets/ColorButton.h"
#include "widgets/DesignTimer.h"
#include "widgets/Lamp.h"

#include <QLabel>
#include <QWidget>
#include <array>

// The power panel: three LED bars, the program number, static lamps and the four large buttons.
// It is a view; PowerController animates it and answers its buttons.
class FrmPower : public QWidget {
    Q_OBJECT
public:
    FrmPower();

    static constexpr int kLamps = 30;
    static constexpr int kModeLamps = 27; // lblLED 27, 28, 29: NORMAL, AUTO, PURSUIT
    std::array<Lamp *, kLamps> lblLED{};

    // Faces without captions; the labels above them name them.
    ColorButton *cmdPower, *cmdNormal, *cmdAuto, *cmdPursuit;

    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10, *Label11,
        *Label12, *Label13, *Label14, *Label15;

    DesignTimer *Timer1;
};
