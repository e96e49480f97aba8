#pragma once

#include "console/Arrangement.h"
#include "console/ConsoleController.h"
#include "playback/Transport.h"
#include "playback/engine/AudioEngine.h"
#include "state/AppState.h"
#include "voice/StartupSequence.h"
#include "voice/VoiceAnimation.h"
#include "voice/VoiceFollow.h"
#include "widgets/Dialogs.h"
#include "widgets/Random.h"
#include "widgets/WindowOwner.h"
#include "windows/FrmCtl.h"
#include "windows/FrmMetar.h"
#include "windows/FrmPower.h"
#include "windows/FrmVoice.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class DesktopBus;
class InstanceServer;

// What the program is built from; the program passes the real parts, tests pass fakes.
struct AppParts {
    std::unique_ptr<AudioEngine> engine;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<RandomSource> random;
    QString ownFolder; // where the start-up voice is looked up first
    Arrangement::ScreenWidth screenWidth = &Arrangement::primaryScreenWidth; // twips
    // What the lamps follow when no track plays, for this run; otherwise the saved choice.
    std::optional<FollowSource> follow;
};

// Owns the state, the engine and the windows, and wires the controllers to them in one place.
class App : public QObject {
    Q_OBJECT
public:
    explicit App(AppParts parts);
    ~App() override;

    // Runs the main window's load handler and shows it.
    void start();
    // The main window's load handler: places the windows, gives the state its start values, starts
    // the light show and plays the start-up voice.
    void Form_Load();

    AppState &state() { return state_; }
    AudioEngine &engine() { return *engine_; }
    FrmVoice &frmVoice() { return *frmVoice_; }
    WindowOwner<FrmMetar> &frmMetar() { return frmMetar_; }
    WindowOwner<FrmPower> &frmPower() { return frmPower_; }
    WindowOwner<FrmCtl> &frmCtl() { return frmCtl_; }
    ConsoleController &console() { return *console_; }
    Transport &transport() { return *transport_; }
    VoiceAnimation &voiceAnimation() { return *voiceAnimation_; }
    VoiceFollow &voiceFollow() { return *voiceFollow_; }

    // The start-up voice beside the program, or in the installed data folder after an install.
    QString startupVoicePath() const;

    // Offers the player on the session bus (media keys, the desktop's media controls). False, after
    // one line on standard error, where there is no bus: the program runs on without it.
    bool publishOnDesktopBus();
    DesktopBus *desktopBus() { return desktopBus_.get(); }
    // Later starts hand their file, or their wish to be seen, to this program through server.
    void takeLaterStarts(InstanceServer &server);

signals:
    // The program is to end with this status.
    void quitRequested(int status);

public slots:
    void Form_QueryUnload();
    void cmdClose_Click();

    // A file or folder from outside the windows (the command line, a later start, the bus): opened as
    // FILE would, then START. Held while the window takes no input, so the start-up show runs out first.
    void openAndPlay(const QString &path);
    // Brings the shown windows to the front.
    void raiseWindows();

private:
    void connectConsole(Arrangement::ScreenWidth screenWidth);
    void connectConsoleWindow(FrmCtl &w);
    void connectPlayer();
    // CLOSE and POWER: the engine released and the program ended, without the close box's stop.
    void endAtOnce();
    void stopTimersAndHideWindows();

    AppState state_;
    std::unique_ptr<AudioEngine> engine_;
    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<RandomSource> random_;
    QString ownFolder_;
    std::unique_ptr<FrmVoice> frmVoice_;
    WindowOwner<FrmMetar> frmMetar_;
    WindowOwner<FrmPower> frmPower_;
    WindowOwner<FrmCtl> frmCtl_;
    std::unique_ptr<ConsoleController> console_;
    std::unique_ptr<Arrangement> arrangement_;
    StartupSequence startupSequence_;

    // The instrument windows and the drive mode lamps (AppInstruments.cpp).
    std::unique_ptr<FrmMetar> makeFrmMetar();
    std::unique_ptr<FrmPower> makeFrmPower();
    void loadFrmMetar(FrmMetar &w);
    void loadFrmPower(FrmPower &w);
    void wireDriveModeLamps();
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<VoiceAnimation> voiceAnimation_;

    // The lamps' source when no track plays: the menu on the main window, saved in the user's settings.
    void connectFollow(std::optional<FollowSource> follow);
    void startFollowing();
    std::optional<FollowSource> followForThisRun_;
    std::unique_ptr<VoiceFollow> voiceFollow_;

    QString heldOpen_; // a file from outside waiting for the window to take input
    std::unique_ptr<DesktopBus> desktopBus_;
};
