#pragma once

#include <QWidget>

// The engine panel: tachometer arc, RPM readout and six gauge bars.
class FrmMetar : public QWidget {
    Q_OBJECT
public:
    FrmMetar();
};
