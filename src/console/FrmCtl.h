#pragma once

#include <QWidget>

// The console docked under the main window: display toggles and the indicator level.
class FrmCtl : public QWidget {
    Q_OBJECT
public:
    FrmCtl();
};
