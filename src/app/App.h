#pragma once

#include "AppState.h"
#include "FrmVoice.h"
#include "console/FrmCtl.h"
#include "meter/FrmMetar.h"
#include "playback/Transport.h"
#include "playback/engine/AudioEngine.h"
#include "power/FrmPower.h"
#include "voice/VoiceAnimation.h"
#include "widgets/Dialogs.h"
#include "widgets/Random.h"
#include "widgets/WindowOwner.h"

#include <QObject>
#include <QString>
#include <memory>

// What the program is built from; the program passes the real parts, tests pass fakes.
struct AppParts {
    std::unique_ptr<AudioEngine> engine;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<RandomSource> random;
    QString ownFolder; // where the start-up voice is looked up first
};

// Owns the state, the engine and the windows, and wires the controllers to them in one place.
class App : public QObject {
    Q_OBJECT
public:
    explicit App(AppParts parts);
    ~App() override;

    // Runs the main window's load handler and shows it.
    void start();

    AppState &state() { return state_; }
    AudioEngine &engine() { return *engine_; }
    Dialogs &dialogs() { return *dialogs_; }
    RandomSource &random() { return *random_; }
    FrmVoice &frmVoice() { return *frmVoice_; }
    WindowOwner<FrmMetar> &frmMetar() { return frmMetar_; }
    WindowOwner<FrmPower> &frmPower() { return frmPower_; }
    WindowOwner<FrmCtl> &frmCtl() { return frmCtl_; }
    Transport &transport() { return *transport_; }
    VoiceAnimation &voiceAnimation() { return *voiceAnimation_; }

    QString startupVoicePath() const;

signals:
    // The program is to end with this status.
    void quitRequested(int status);

private:
    void connectPlayer();

    AppState state_;
    std::unique_ptr<AudioEngine> engine_;
    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<RandomSource> random_;
    QString ownFolder_;
    std::unique_ptr<FrmVoice> frmVoice_;
    WindowOwner<FrmMetar> frmMetar_;
    WindowOwner<FrmPower> frmPower_;
    WindowOwner<FrmCtl> frmCtl_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<VoiceAnimation> voiceAnimation_;
};
