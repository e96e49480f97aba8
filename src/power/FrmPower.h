#pragma once

#include <QWidget>

// The power panel: three LED bars, the program number, static lamps and the four large buttons.
class FrmPower : public QWidget {
    Q_OBJECT
public:
    FrmPower();
};
