#pragma once

#include "FakeDialogs.h"
#include "FakeEngine.h"
#include "TestRandom.h"
#include "app/App.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Qt's real file dialog, with message boxes recorded and answered after a while, as a user would;
// with realMessageBox, Qt's real box, which the test answers.
class RecordingQtDialogs : public QtDialogs {
public:
    QStringList messages;
    bool realMessageBox = false;
    void message(QWidget *parent, const QString &text) override;
};

// The whole program as a test needs it: its windows and controllers reachable by name, on the parts
// the options choose.
struct AppRig {
    enum class Engine { Fake, Real };
    enum class Dialogs { Fake, QtFileDialog, QtFileDialogAndMessageBox };
    enum class Random { Fixed, Scripted };
    struct Options {
        Engine engine = Engine::Fake; // the real one is initialised here and freed with the rig
        Dialogs dialogs = Dialogs::Fake;
        Random random = Random::Fixed;
        QString ownFolder = {}; // where the start-up voice is looked up first
        Arrangement::ScreenWidth screenWidth = &Arrangement::primaryScreenWidth;
        bool start = false; // start it and wait until the light show hands over the input
        std::optional<FollowSource> follow = {}; // as --follow gives it
    };

    AppRig();
    explicit AppRig(Options options);
    ~AppRig();

    FakeEngine *engine = nullptr;            // with Engine::Fake
    FakeDialogs *dialogs = nullptr;          // with Dialogs::Fake
    RecordingQtDialogs *qtDialogs = nullptr; // with the Qt dialogs
    ScriptedRandom *random = nullptr;        // with Random::Scripted
    std::unique_ptr<App> app;

    AppState &state() { return app->state(); }
    FrmVoice &w() { return app->frmVoice(); }
    // The message boxes shown so far, whichever dialogs are in use.
    QStringList &messages();

    // The light show's ten ticks, run at once.
    void runLightShow();
    // Whether the light show has ended with the window taking input.
    bool lightShowDone();

    // A loaded list of the given paths, positioned at pos, with its track shown.
    void loadList(const QStringList &paths, int pos);
    // Every lamp colour, arrays 1 to 6, index 0 to 9.
    std::vector<uint32_t> lampColors();
    void lightAllLamps(uint32_t bgr);

    // Presses "FILE" with path as the fake dialog's answer.
    void choose(const QString &path);
    int32_t playState();

private:
    bool freeOnDestruction_ = false;
};

// The five property labels, in one text for comparing.
QString properties(FrmVoice &w);
