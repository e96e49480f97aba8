#include "App.h"

#include "DesktopBus.h"
#include "InstanceChannel.h"
#include "widgets/RowWidth.h"
#include "widgets/WindowGeometry.h"
#include "windows/FrmVoice.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QScreen>
#include <QSettings>
#include <utility>

namespace {
const QString kStartupVoice = QStringLiteral("voice_kidou.wav");
const QString kFollowKey = QStringLiteral("lamps/follow");

// The user's settings: ~/.config/voicebox/voicebox.conf.
std::unique_ptr<QSettings> userSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("voicebox"),
                                       QStringLiteral("voicebox"));
}
} // namespace

App::App(AppParts parts)
    : engine_(std::move(parts.engine)), dialogs_(std::move(parts.dialogs)), random_(std::move(parts.random)),
      ownFolder_(std::move(parts.ownFolder)), frmVoice_(std::make_unique<FrmVoice>()),
      frmMetar_([this] { return makeFrmMetar(); }, [this](FrmMetar &w) { loadFrmMetar(w); }),
      frmPower_([this] { return makeFrmPower(); }, [this](FrmPower &w) { loadFrmPower(w); }),
      frmCtl_([] { return std::make_unique<FrmCtl>(); }, [this](FrmCtl &w) { connectConsoleWindow(w); }),
      startupSequence_(*frmVoice_, state_)
{
    // One icon for every window of the program.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/voicebox/icon.svg")));

    // Main window: load, close request, light show, "CLOSE".
    connect(frmVoice_.get(), &FrmVoice::Form_QueryUnload, this, &App::Form_QueryUnload);
    connect(frmVoice_->Timer2, &DesignTimer::Timer, &startupSequence_, &StartupSequence::Timer2_Timer);
    connect(frmVoice_->cmdClose, &QPushButton::clicked, this, &App::cmdClose_Click);

    connectConsole(std::move(parts.screenWidth));
    wireDriveModeLamps();
    connectPlayer();
    connectFollow(parts.follow);
}

App::~App() = default;

// The console: cmdCtl on the main window, the level buttons and the display toggles.
void App::connectConsole(Arrangement::ScreenWidth screenWidth)
{
    console_ = std::make_unique<ConsoleController>(state_, *frmVoice_, frmCtl_);
    arrangement_ = std::make_unique<Arrangement>(state_, *frmVoice_, frmMetar_, frmPower_, frmCtl_, *console_,
                                                 std::move(screenWidth));
    connect(frmVoice_->cmdCtl, &QPushButton::clicked, console_.get(), &ConsoleController::cmdCtl_Click);
}

// Runs once: the console is loaded at start-up and never unloaded.
void App::connectConsoleWindow(FrmCtl &w)
{
    connect(w.cmdUP, &QPushButton::clicked, console_.get(), &ConsoleController::cmdUP_Click);
    connect(w.cmdDown, &QPushButton::clicked, console_.get(), &ConsoleController::cmdDown_Click);
    connect(w.cmdMetar, &QPushButton::clicked, arrangement_.get(), &Arrangement::cmdMetar_Click);
    connect(w.cmdPower, &QPushButton::clicked, arrangement_.get(), &Arrangement::cmdPower_Click);
}

QString App::startupVoicePath() const
{
    const QString beside = ownFolder_ + QLatin1Char('/') + kStartupVoice;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = ownFolder_ + QStringLiteral("/../share/voicebox/") + kStartupVoice;
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    return beside; // the open then reports the missing file
}

void App::start()
{
    Form_Load();
    frmVoice_->show();
}

void App::Form_Load()
{
    FrmVoice &v = *frmVoice_;

    // Reading the side windows' widths loads them hidden: the meter window first, then the power window.
    const float metarWidth = windowWidth(&frmMetar_.get());
    const float powerWidth = windowWidth(&frmPower_.get());
    const float voiceWidth = windowWidth(&v);
    const int16_t rowWidth = RowWidth({metarWidth, voiceWidth, powerWidth});
    const QSizeF screen = primaryScreenTwips();
    setWindowLeft(&v, float((screen.width() - rowWidth) / 2.0));
    setWindowTop(&v, float((screen.height() - windowHeight(&v)) / 2.0));

    state_.StartupStep = 1;
    PrepareStartupPanel(v);
    engine_->vbmp3_init();
    ClearVoiceBars(v);

    v.cmdCtl->setCaption(QStringLiteral("CONF\r\nON"));
    v.cmdMode->setCaption(QStringLiteral("MODE"));
    v.cmdNext->setCaption(QStringLiteral("SKIP\r\nNEXT"));
    v.cmdPrev->setCaption(QStringLiteral("SKIP\r\nPREV"));

    state_.ListLoaded = 0;
    state_.SingleMode = 0;
    v.lblMode->setText(QStringLiteral("ALL PLAY"));
    v.lblMusicCnt->setText(QStringLiteral("0"));
    v.lblTotal->setText(QStringLiteral("0"));
    state_.RepeatOn = 0;
    v.lblRepeat->hide();

    v.Timer1->setInterval(0);
    v.Timer1->setEnabled(false);
    v.Timer2->setInterval(350);
    v.Timer2->setEnabled(true);

    state_.ConsoleOn = 0;
    state_.MeterShown = -1;
    state_.PowerShown = -1;

    // The console is docked under the main window, created but not shown.
    console_->dockConsole();
    startFollowing();

    TrackInfo scratch{};
    if (!engine_->vbmp3_open(startupVoicePath().toStdString(), scratch)) {
        const int32_t error = engine_->vbmp3_getLastErrorNo();
        dialogs_->message(&v, QStringLiteral("ErrNo : ") + QString::number(error) + QStringLiteral(" Open Error"));
        return;
    }
    engine_->vbmp3_play();
    FrmMetar &metar = frmMetar_.get();
    setWindowLeft(&metar, windowLeft(&v) + windowWidth(&v));
    setWindowTop(&metar, windowTop(&v));
    metar.show();
    FrmPower &power = frmPower_.get();
    setWindowLeft(&power, windowLeft(&metar) + windowWidth(&metar));
    setWindowTop(&power, windowTop(&metar));
    power.show();
}

void App::Form_QueryUnload()
{
    stopTimersAndHideWindows();
    engine_->vbmp3_stop();
    engine_->vbmp3_free();
    frmMetar_.unload();
    frmPower_.unload();
    emit quitRequested(0);
}

void App::cmdClose_Click()
{
    endAtOnce();
}

void App::endAtOnce()
{
    stopTimersAndHideWindows();
    engine_->vbmp3_free();
    emit quitRequested(0);
}

// The event loop finishes the events already queued before it returns: with every timer off and the
// windows gone, none of them can reach the freed engine or open a message box.
void App::stopTimersAndHideWindows()
{
    const std::initializer_list<QWidget *> windows = {frmVoice_.get(), frmMetar_.ifLoaded(), frmPower_.ifLoaded(),
                                                      frmCtl_.ifLoaded()};
    for (QWidget *w : windows) {
        if (!w)
            continue;
        for (DesignTimer *timer : w->findChildren<DesignTimer *>())
            timer->setEnabled(false);
        w->hide();
    }
    voiceFollow_->stop();
}

// The player: transport buttons, the file dialog and the playback tick.
void App::connectPlayer()
{
    const PlayerContext context{state_, *engine_, *dialogs_, *frmVoice_};
    transport_ = std::make_unique<Transport>(context);
    // The level lives only in the console's caption; the tick reads it there on every tick.
    auto levelCaption = [this] { return console_->levelCaption(); };
    voiceAnimation_ = std::make_unique<VoiceAnimation>(context, *transport_, levelCaption);

    FrmVoice &w = *frmVoice_;
    Transport *t = transport_.get();
    connect(w.cmdFile, &QPushButton::clicked, t, &Transport::cmdFile_Click);
    connect(w.cmdStart, &QPushButton::clicked, t, &Transport::cmdStart_Click);
    connect(w.cmdStop, &QPushButton::clicked, t, &Transport::cmdStop_Click);
    connect(w.cmdPause, &QPushButton::clicked, t, &Transport::cmdPause_Click);
    connect(w.cmdNext, &QPushButton::clicked, t, &Transport::cmdNext_Click);
    connect(w.cmdPrev, &QPushButton::clicked, t, &Transport::cmdPrev_Click);
    connect(w.cmdRepeat, &QPushButton::clicked, t, &Transport::cmdRepeat_Click);
    connect(w.cmdMode, &QPushButton::clicked, t, &Transport::cmdMode_Click);
    connect(w.Timer1, &DesignTimer::Timer, voiceAnimation_.get(), &VoiceAnimation::Timer1_Timer);
    connect(&w, &FrmVoice::pathDropped, t, &Transport::openPath);
    connect(&w, &FrmVoice::inputEnabledChanged, this, [this](bool on) {
        if (on && !heldOpen_.isEmpty())
            openAndPlay(std::exchange(heldOpen_, QString()));
    });
}

void App::openAndPlay(const QString &path)
{
    // From its load until the show's last step the window is not ready for a file, though the first
    // step may not have blocked input yet.
    if (!frmVoice_->inputEnabled() || frmVoice_->Timer2->isEnabled()) {
        heldOpen_ = path;
        return;
    }
    transport_->openPath(path);
    transport_->cmdStart_Click();
}

void App::raiseWindows()
{
    const std::initializer_list<QWidget *> windows = {frmMetar_.ifLoaded(), frmPower_.ifLoaded(), frmCtl_.ifLoaded(),
                                                      frmVoice_.get()};
    for (QWidget *w : windows) {
        if (!w || (w != frmVoice_.get() && !w->isVisible()))
            continue;
        if (w->isMinimized())
            w->showNormal();
        w->show();
        w->raise();
    }
    frmVoice_->activateWindow();
}

bool App::publishOnDesktopBus()
{
    desktopBus_ = std::make_unique<DesktopBus>(*this);
    if (desktopBus_->publish())
        return true;
    desktopBus_.reset();
    return false;
}

void App::takeLaterStarts(InstanceServer &server)
{
    connect(&server, &InstanceServer::openRequested, this, &App::openAndPlay);
    connect(&server, &InstanceServer::raiseRequested, this, &App::raiseWindows);
}

void App::connectFollow(std::optional<FollowSource> follow)
{
    followForThisRun_ = follow;
    auto levelCaption = [this] { return console_->levelCaption(); };
    voiceFollow_ = std::make_unique<VoiceFollow>(*engine_, *frmVoice_, levelCaption);
    // A right click on the lamps, the labels or the background reaches the window.
    frmVoice_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(frmVoice_.get(), &QWidget::customContextMenuRequested, voiceFollow_.get(),
            &VoiceFollow::frmVoice_ContextMenu);
    connect(voiceFollow_.get(), &VoiceFollow::sourceChosen, this,
            [](FollowSource source) { userSettings()->setValue(kFollowKey, followSourceName(source)); });
}

void App::startFollowing()
{
    FollowSource source = FollowSource::Off;
    if (followForThisRun_)
        source = *followForThisRun_;
    else if (auto saved = followSourceFromName(userSettings()->value(kFollowKey).toString()))
        source = *saved;
    voiceFollow_->setSource(source);
}
