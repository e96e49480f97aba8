#pragma once

#include "FakeDialogs.h"
#include "FakeEngine.h"
#include "app/App.h"

#include <QStringList>
#include <memory>

// The whole program on a scripted engine and scripted dialogs, not started: its windows and
// controllers as created, reachable by name.
struct PlayerRig {
    FakeEngine *engine;
    FakeDialogs *dialogs;
    std::unique_ptr<App> app;

    PlayerRig();
    AppState &state() { return app->state(); }
    FrmVoice &w() { return app->frmVoice(); }

    // A loaded list of the given paths, positioned at pos, with its track shown.
    void loadList(const QStringList &paths, int pos);
    // Every lamp colour, arrays 1 to 6, index 0 to 9.
    std::vector<uint32_t> lampColors();
    void lightAllLamps(uint32_t bgr);
};

// The whole program, not started, on the real engine (initialised) and scripted dialogs: for what
// a user can point "FILE" at.
struct EngineAppRig {
    FakeDialogs *dialogs;
    std::unique_ptr<App> app;

    EngineAppRig();
    ~EngineAppRig();
    AppState &state() { return app->state(); }
    FrmVoice &w() { return app->frmVoice(); }
    AudioEngine &engine() { return app->engine(); }
    // Presses "FILE" with path as the dialog's answer.
    void choose(const QString &path);
    int32_t playState();
};
