#pragma once

#include "widgets/ColorButton.h"

#include <QLabel>
#include <QWidget>

// The console docked under the main window: the display toggles and the indicator level.
// It is a view; ConsoleController and Arrangement give its buttons their behaviour.
class FrmCtl : public QWidget {
    Q_OBJECT
public:
    FrmCtl();

    // Topmost to bottommost.
    ColorButton *cmdMetar, *cmdPower, *cmdDown, *cmdUP;
    QLabel *lblLebel; // the level's only store: "  0".."  9", "-1".."-9"
    QLabel *Label14, *Label3, *Label2, *Label1;
};
