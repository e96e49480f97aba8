#pragma once

#include "widgets/WindowOwner.h"
#include "windows/FrmCtl.h"

#include <QObject>
#include <cstdint>

struct AppState;
class FrmVoice;

// Shows and hides the console under the main window and keeps the indicator level.
class ConsoleController : public QObject {
    Q_OBJECT
public:
    ConsoleController(AppState &state, FrmVoice &frmVoice, WindowOwner<FrmCtl> &frmCtl);

    // Puts the console's top-left corner at the main window's bottom-left corner, loading the
    // console hidden if need be; its visibility stays as it is.
    void dockConsole();

    // The level as lblLebel shows it, and as a number; reading loads the console if need be.
    QString levelCaption();
    int16_t level();

public slots:
    void cmdCtl_Click();
    void cmdUP_Click();
    void cmdDown_Click();

private:
    AppState &state_;
    FrmVoice &frmVoice_;
    WindowOwner<FrmCtl> &frmCtl_;
};
